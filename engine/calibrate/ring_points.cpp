#include "engine/calibrate/ring_points.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "engine/base/constants.h"
#include "engine/base/quantile.h"

namespace vokip {

namespace {

struct Peak {
  double position;  // in samples from the window's start
  double width;     // at half height, in samples
};

// The highest peak of a window of samples between its two margins, above
// the straight line through the margins' medians, when it is significant
// against the noise in the margins, falls to half its height on both sides
// inside the window and has flanks that keep to the line. Keeps its buffers
// from window to window.
class PeakFinder {
 public:
  std::optional<Peak> operator()(const std::vector<double>& v, int margin,
                                 double least_significance) {
    const int n = static_cast<int>(v.size());
    if (margin < 3 || n < 2 * margin + 3) return std::nullopt;
    const double head_level = median_of(v.begin(), v.begin() + margin, &scratch_);
    const double tail_level = median_of(v.end() - margin, v.end(), &scratch_);
    const double head_at = (margin - 1) / 2.0, tail_at = n - 1 - (margin - 1) / 2.0;
    const double slope = (tail_level - head_level) / (tail_at - head_at);
    excess_.resize(v.size());
    for (int i = 0; i < n; ++i) excess_[i] = v[i] - (head_level + slope * (i - head_at));

    const int top = static_cast<int>(
        std::max_element(excess_.begin() + margin, excess_.end() - margin) - excess_.begin());
    const double height = excess_[top];
    if (!(height > 0)) return std::nullopt;
    const double noise = noise_of(v, margin);
    if (height < least_significance * noise) return std::nullopt;

    const double half = height / 2;
    int first = top, last = top;
    while (first > 0 && excess_[first - 1] >= half) --first;
    while (last < n - 1 && excess_[last + 1] >= half) ++last;
    if (first == 0 || last == n - 1) return std::nullopt;
    // A step (a beam stop's shadow, the plate's rim) stands above the line
    // as a ramp ending at the step, at whose foot the values fall about as
    // far below the line; a peak's flanks keep to the line within the noise.
    const double lowest = *std::min_element(excess_.begin(), excess_.end());
    if (lowest < -0.25 * height - 4 * noise) return std::nullopt;

    // The centroid of what stands above half height: weights fall to zero
    // at the threshold, so where the samples happen to lie hardly moves it.
    double weight = 0, moment = 0;
    for (int i = first; i <= last; ++i) {
      weight += excess_[i] - half;
      moment += (excess_[i] - half) * i;
    }
    if (!(weight > 0)) return std::nullopt;
    const double left =
        first - 1 + (half - excess_[first - 1]) / (excess_[first] - excess_[first - 1]);
    const double right = last + (excess_[last] - half) / (excess_[last] - excess_[last + 1]);
    return Peak{moment / weight, right - left};
  }

 private:
  // The samples' standard deviation from the margins: from differences of
  // samples two pixels apart (bilinear samples closer share pixels), about
  // each margin's median difference, so that a slope does not count.
  double noise_of(const std::vector<double>& v, int margin) {
    const int lag = 4;
    deviations_.clear();
    for (const int start : {0, static_cast<int>(v.size()) - margin}) {
      differences_.clear();
      for (int i = start; i + lag < start + margin; ++i) differences_.push_back(v[i + lag] - v[i]);
      if (differences_.empty()) continue;
      const double centre = median_of(differences_.begin(), differences_.end(), &scratch_);
      for (double d : differences_) deviations_.push_back(std::fabs(d - centre));
    }
    if (deviations_.empty()) return 0;
    return kStandardDeviationsPerMedianDeviation *
           median_of(deviations_.begin(), deviations_.end(), &scratch_) / std::sqrt(2.0);
  }

  std::vector<double> excess_, differences_, deviations_, scratch_;
};

}  // namespace

RingLocator::RingLocator(const Geometry& g, const std::vector<double>& ring_two_theta_deg)
    : distance_um_(1000 * g.distance_mm) {
  const double to_radians = kPi / 180;
  cos_tilt_ = std::cos(g.tilt_deg * to_radians);
  sin_tilt_ = std::sin(g.tilt_deg * to_radians);
  cos_direction_ = std::cos(g.tilt_direction_deg * to_radians);
  sin_direction_ = std::sin(g.tilt_direction_deg * to_radians);
  for (double t : ring_two_theta_deg) tangents_.push_back(std::tan(t * to_radians));
}

double RingLocator::radius_um(int ring, double cos_phi, double sin_phi) const {
  // Across (u) and along (v) the tilt axis, as the module measures r and t.
  const double u = cos_phi * cos_direction_ + sin_phi * sin_direction_;
  const double v = sin_phi * cos_direction_ - cos_phi * sin_direction_;
  const double tan_two_theta = tangents_[ring];
  // tan 2theta = rho sqrt(v^2 + (u cos tilt)^2) / (rho u sin tilt + D), for rho.
  const double sideways = std::sqrt(v * v + u * u * cos_tilt_ * cos_tilt_);
  const double denominator = sideways - u * sin_tilt_ * tan_two_theta;
  if (!(denominator > 0) || !(tan_two_theta >= 0)) return std::numeric_limits<double>::quiet_NaN();
  return distance_um_ * tan_two_theta / denominator;
}

std::vector<RingPoint> find_ring_points(const PlateImage& image, const Geometry& g,
                                        const std::vector<double>& ring_two_theta,
                                        const std::vector<int>& rings, const RingSearch& search,
                                        std::vector<int>* lines_searched) {
  const double infinity = std::numeric_limits<double>::infinity();
  const int ring_count = static_cast<int>(ring_two_theta.size());
  const RingLocator locate(g, ring_two_theta);
  PeakFinder peak_in;
  const double smaller_pixel_um = std::min(g.pixel_x_um, g.pixel_y_um);
  std::vector<RingPoint> points;
  std::vector<double> samples;
  if (lines_searched) lines_searched->assign(rings.size(), 0);
  for (std::size_t listed = 0; listed < rings.size(); ++listed) {
    const int ring = rings[listed];
    const double mean_radius_px = locate.untilted_radius_um(ring) / smaller_pixel_um;
    const int azimuths =
        std::clamp(static_cast<int>(2 * kPi * mean_radius_px / search.point_spacing_px), 16,
                   search.most_points_per_ring);
    for (int k = 0; k < azimuths; ++k) {
      const double phi = 2 * kPi * (k + 0.5) / azimuths;
      const double c = std::cos(phi), s = std::sin(phi);
      const double radius = locate.radius_um(ring, c, s);
      if (!std::isfinite(radius)) continue;
      const double inner = ring > 0 ? locate.radius_um(ring - 1, c, s) : 0;
      double outer = ring + 1 < ring_count ? locate.radius_um(ring + 1, c, s) : infinity;
      if (std::isnan(outer)) outer = infinity;
      // One pixel's length along this line, and samples every half pixel.
      const double um_per_px = 1 / std::hypot(c / g.pixel_x_um, s / g.pixel_y_um);
      const double step = um_per_px / 2;
      if (std::min(radius - inner, outer - radius) < search.least_gap_px * um_per_px) continue;
      // Where the samples fall on the peak differs from line to line (a
      // golden-ratio sequence of offsets), so that what the sampling does to
      // the peak's position averages away over a ring instead of adding up.
      const double offset = step * std::fmod(0.6180339887498949 * k, 1.0);
      // The peak is looked for between low and high, the background on
      // margins outside them.
      const double low = std::max(radius - search.window_px * um_per_px, (inner + radius) / 2);
      const double high = std::min(radius + search.window_px * um_per_px, (radius + outer) / 2);
      if (high - low < 4 * step) continue;
      const int margin = static_cast<int>(std::ceil(search.margin_px * 2));
      const double start = low - margin * step + offset;
      const int count = static_cast<int>((high - low) / step) + 2 * margin;
      samples.resize(static_cast<std::size_t>(count));
      bool complete = true;
      for (int i = 0; i < count && complete; ++i) {
        const double rho = start + i * step;
        samples[i] = image.sample(g.center_x_px + rho * c / g.pixel_x_um,
                                  g.center_y_px + rho * s / g.pixel_y_um);
        complete = !std::isnan(samples[i]);
      }
      if (!complete) continue;
      if (lines_searched) ++(*lines_searched)[listed];
      const std::optional<Peak> peak = peak_in(samples, margin, search.least_significance);
      if (!peak) continue;
      const double width_px = peak->width / 2;
      if (width_px < search.least_width_px) continue;
      if (search.most_width_px > 0 && width_px > search.most_width_px) continue;
      const double rho = start + peak->position * step;
      RingPoint p;
      p.x = g.center_x_px + rho * c / g.pixel_x_um;
      p.y = g.center_y_px + rho * s / g.pixel_y_um;
      p.ring = ring;
      p.width_px = width_px;
      points.push_back(p);
    }
  }
  return points;
}

}  // namespace vokip
