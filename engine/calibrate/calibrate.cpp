#include "engine/calibrate/calibrate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "engine/base/constants.h"
#include "engine/base/error.h"
#include "engine/base/quantile.h"
#include "engine/base/text.h"
#include "engine/geometry/units.h"

namespace vokip {

namespace {

constexpr int kLeastPointsPerRing = 8;
constexpr int kLeastRings = 2;
constexpr int kLeastPoints = 20;
// A ring is taken when peaks are found on at least this share of the lines
// searched across it: noise alone gives far fewer.
constexpr double kLeastShareFound = 0.2;
constexpr double kProbeWindowPx = 40;
// The distance is looked for from the start's over this factor to the
// start's times it.
constexpr double kDistanceSpan = 1.2;

// The calibrant's rings that the wavelength reaches, by ascending 2-theta.
struct RingList {
  std::vector<double> d, two_theta;
};

RingList ring_list(const Calibrant& calibrant, double wavelength) {
  RingList rings;
  // d-spacings are held largest first, so 2-theta ascends.
  for (double d : calibrant.d_spacings_angstrom) {
    const double t = two_theta_of_d(d, wavelength);
    if (!std::isfinite(t)) break;
    rings.d.push_back(d);
    rings.two_theta.push_back(t);
  }
  return rings;
}

// The rings' 2-theta at a wavelength.
std::vector<double> two_thetas_at(const std::vector<double>& d_angstrom, double wavelength) {
  std::vector<double> two_theta;
  for (double d : d_angstrom) two_theta.push_back(two_theta_of_d(d, wavelength));
  return two_theta;
}

// Each point given to the ring nearest its 2-theta under the geometry;
// returns each point's residual from its ring.
std::vector<double> assign_nearest(std::vector<RingPoint>* points, const Geometry& g,
                                   const std::vector<double>& ring_two_theta) {
  std::vector<double> residuals = two_thetas_of(*points, g);
  for (std::size_t i = 0; i < points->size(); ++i) {
    const double two_theta = residuals[i];
    const auto above = std::lower_bound(ring_two_theta.begin(), ring_two_theta.end(), two_theta);
    int nearest = static_cast<int>(above - ring_two_theta.begin());
    if (above == ring_two_theta.end() ||
        (above != ring_two_theta.begin() && two_theta - above[-1] < *above - two_theta)) {
      --nearest;
    }
    (*points)[i].ring = nearest;
    residuals[i] = two_theta - ring_two_theta[nearest];
  }
  return residuals;
}

// The points whose residual lies within four robust standard deviations of
// the median residual, on rings that keep enough of them.
std::vector<RingPoint> without_outliers(const std::vector<RingPoint>& points,
                                        const std::vector<double>& residuals, int ring_count) {
  const double centre = median_of(residuals);
  std::vector<double> deviations(residuals.size());
  for (std::size_t i = 0; i < residuals.size(); ++i) {
    deviations[i] = std::fabs(residuals[i] - centre);
  }
  const double limit =
      std::max(4 * kStandardDeviationsPerMedianDeviation * median_of(deviations), 1e-9);
  std::vector<int> per_ring(static_cast<std::size_t>(ring_count), 0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (deviations[i] <= limit) ++per_ring[points[i].ring];
  }
  std::vector<RingPoint> kept;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (deviations[i] <= limit && per_ring[points[i].ring] >= kLeastPointsPerRing) {
      kept.push_back(points[i]);
    }
  }
  return kept;
}

int rings_among(const std::vector<RingPoint>& points) {
  std::vector<int> rings;
  for (const RingPoint& p : points) rings.push_back(p.ring);
  std::sort(rings.begin(), rings.end());
  return static_cast<int>(std::unique(rings.begin(), rings.end()) - rings.begin());
}

// The 2-theta of the highest peak of the image's profile under the geometry
// that lies on none of the rings, from 0.8 times the first ring's 2-theta
// to the last's: a peak at least a fifth as high as the highest there and
// ten times the noise, farther from every ring than four of the peaks'
// widths (width_px, along the plate) or four bins of one pixel.
std::optional<double> foreign_ring_deg(const PlateImage& image, const Geometry& g,
                                       const std::vector<double>& ring_two_theta, double first_deg,
                                       double last_deg, double width_px) {
  const double bin_deg =
      std::min(g.pixel_x_um, g.pixel_y_um) / (1000 * g.distance_mm) * kDegreesPerRadian;
  const std::vector<double> peaks = two_theta_peaks(image, g, bin_deg);
  if (peaks.size() < 3) return std::nullopt;
  const double reach_deg = std::max(4.0, 4 * width_px) * bin_deg;
  const std::size_t from = static_cast<std::size_t>(0.8 * first_deg / bin_deg) + 1;
  const std::size_t to = std::min(peaks.size() - 1, static_cast<std::size_t>(last_deg / bin_deg));
  std::vector<double> values;
  for (std::size_t k = from; k < to; ++k) {
    if (!std::isnan(peaks[k])) values.push_back(peaks[k]);
  }
  if (values.size() < 10) return std::nullopt;
  const double highest = *std::max_element(values.begin(), values.end());
  const double centre = median_of(values);
  for (double& v : values) v = std::fabs(v - centre);
  const double noise = kStandardDeviationsPerMedianDeviation * median_of(values);
  std::optional<double> foreign;
  double foreign_height = 0;
  for (std::size_t k = from; k < to; ++k) {
    const double v = peaks[k];
    if (!(v >= peaks[k - 1] && v > peaks[k + 1] && v >= 0.2 * highest && v >= 10 * noise)) continue;
    const double at = (k + 0.5) * bin_deg;
    const auto above = std::lower_bound(ring_two_theta.begin(), ring_two_theta.end(), at);
    double nearest = std::numeric_limits<double>::infinity();
    if (above != ring_two_theta.end()) nearest = *above - at;
    if (above != ring_two_theta.begin()) nearest = std::min(nearest, at - above[-1]);
    if (nearest > reach_deg && v > foreign_height) {
      foreign = at;
      foreign_height = v;
    }
  }
  return foreign;
}

class Calibrator {
 public:
  Calibrator(const PlateImage& image, const RingList& rings, const CalibrationSettings& settings)
      : image_(image), rings_(rings), settings_(settings) {}

  // Takes in the rings one after another from the innermost; a ring stays
  // when peaks are found along enough of its lines and the fit with it
  // succeeds. The points of the rings taken before are kept: they lie on
  // their rings whatever the geometry.
  void take_in_rings(Geometry* g) {
    for (int ring = 0; ring < static_cast<int>(rings_.two_theta.size()); ++ring) {
      if (beyond_image(*g, ring)) break;
      RingSearch probe = search();
      probe.window_px = kProbeWindowPx;
      std::vector<int> lines;
      std::vector<RingPoint> found =
          find_ring_points(image_, *g, rings_.two_theta, {ring}, probe, &lines);
      const int count = static_cast<int>(found.size());
      if (count < kLeastPointsPerRing || count < kLeastShareFound * lines[0]) continue;
      found.insert(found.end(), points_.begin(), points_.end());
      active_.push_back(ring);
      try {
        Geometry refined = *g;
        fit_points(std::move(found), &refined, false);
        *g = refined;
      } catch (const Error& e) {
        active_.pop_back();
        if (!failure_) failure_ = e.what();
      }
    }
  }

  // Fits again until the geometry settles.
  GeometryFit settle(Geometry* g) {
    GeometryFit fit;
    for (int round = 0; round < 4; ++round) {
      const Geometry before = *g;
      fit = refit(g, settings_.refine_wavelength);
      const double moved =
          std::hypot(g->center_x_px - before.center_x_px, g->center_y_px - before.center_y_px);
      if (moved < 0.01 && std::fabs(g->distance_mm / before.distance_mm - 1) < 1e-6) break;
    }
    return fit;
  }

  // The calibrant's rings, up to the outermost one used, along which enough
  // lines lie on data for the ring to be taken in: what the image shows if
  // the geometry is right.
  int rings_on_plate(const Geometry& g) const {
    if (active_.empty()) return 0;
    std::vector<int> inner(static_cast<std::size_t>(active_.back()) + 1);
    for (std::size_t r = 0; r < inner.size(); ++r) inner[r] = static_cast<int>(r);
    std::vector<int> lines;
    find_ring_points(image_, g, two_thetas_at(rings_.d, *g.wavelength_angstrom), inner, search(),
                     &lines);
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](int n) {
      return n * kLeastShareFound >= kLeastPointsPerRing;
    }));
  }

  const std::vector<int>& active() const { return active_; }
  const std::vector<RingPoint>& points() const { return points_; }
  const std::optional<std::string>& failure() const { return failure_; }

 private:
  RingSearch search() const {
    RingSearch s;
    if (width_px_ > 0) {
      // Once the peaks' width is known: windows a few widths wide, no
      // rings that blend with a neighbour, no peaks of another shape.
      s.window_px = std::clamp(2 * width_px_ + 2, 4.0, kProbeWindowPx);
      s.margin_px = std::max(2 * width_px_ + 2, 4.0);
      s.least_gap_px = 3 * width_px_;
      s.least_width_px = width_px_ / 2;
      s.most_width_px = width_px_ * 2;
    }
    return s;
  }

  // Whether the ring, and so every ring after it, lies wholly outside the
  // image: beyond the farthest corner in every direction.
  bool beyond_image(const Geometry& g, int ring) const {
    const RingLocator locate(g, rings_.two_theta);
    double farthest_um = 0;
    for (double x : {0.0, double(image_.width())}) {
      for (double y : {0.0, double(image_.height())}) {
        farthest_um = std::max(farthest_um, std::hypot((x - g.center_x_px) * g.pixel_x_um,
                                                       (y - g.center_y_px) * g.pixel_y_um));
      }
    }
    const int directions = 64;
    for (int k = 0; k < directions; ++k) {
      const double phi = 2 * kPi * k / directions;
      const double radius = locate.radius_um(ring, std::cos(phi), std::sin(phi));
      if (radius < farthest_um) return false;
    }
    return true;
  }

  // What points on `rings` rings can fix: one ring a circle, so distance and
  // centre; the tilt needs two, the wavelength beside the distance three.
  static FitFreedom freedom(int rings, bool wavelength) {
    FitFreedom f;
    f.tilt = rings >= 2;
    f.wavelength = wavelength && rings >= 3;
    return f;
  }

  // Finds the active rings' points where the geometry puts them and fits
  // them.
  GeometryFit refit(Geometry* g, bool wavelength) {
    // At the wavelength fitted so far, which may have moved the rings.
    std::vector<RingPoint> found = find_ring_points(
        image_, *g, two_thetas_at(rings_.d, *g->wavelength_angstrom), active_, search());
    return fit_points(std::move(found), g, wavelength);
  }

  // Fits the points; then gives each to the nearest ring under the fitted
  // geometry, drops the outliers and fits again.
  GeometryFit fit_points(std::vector<RingPoint> found, Geometry* g, bool wavelength) {
    if (found.empty()) throw Error("no ring points left");
    const FitFreedom f = freedom(rings_among(found), wavelength);
    GeometryFit fit = fit_geometry(found, rings_.d, *g, f, settings_.max_iterations);
    const std::vector<double> residuals = assign_nearest(
        &found, fit.geometry, two_thetas_at(rings_.d, *fit.geometry.wavelength_angstrom));
    std::vector<RingPoint> kept =
        without_outliers(found, residuals, static_cast<int>(rings_.d.size()));
    fit = fit_geometry(kept, rings_.d, fit.geometry, f, settings_.max_iterations);
    *g = fit.geometry;
    points_ = std::move(kept);
    std::vector<double> widths;
    for (const RingPoint& p : points_) widths.push_back(p.width_px);
    width_px_ = median_of(widths);
    return fit;
  }

  const PlateImage& image_;
  const RingList& rings_;
  const CalibrationSettings& settings_;
  std::vector<int> active_;
  std::vector<RingPoint> points_;
  double width_px_ = 0;  // the peaks' typical width, once known
  std::optional<std::string> failure_;
};

}  // namespace

Calibration calibrate(const PlateImage& image, const Calibrant& calibrant,
                      const CalibrationStart& start, const CalibrationSettings& settings) {
  if (!start.geometry.wavelength_angstrom) {
    throw Error("calibration needs the wavelength, which is not known", Setting::wavelength);
  }
  Calibration result;
  Geometry g = start.geometry;
  const PlatePoint from = start.centre_known
                              ? PlatePoint{g.center_x_px, g.center_y_px}
                              : PlatePoint{image.width() / 2.0, image.height() / 2.0};
  const double reach = start.centre_known ? settings.centre_search_px
                                          : std::min(image.width(), image.height()) / 4.0;
  const RingList rings = ring_list(calibrant, *g.wavelength_angstrom);
  if (rings.d.empty()) {
    throw Error("the wavelength reaches none of " + calibrant.name + "'s reflections");
  }
  // Inside half the first ring's radius there is nothing to go by but the
  // beam stop's shadow.
  const double first_ring_px =
      RingLocator(g, rings.two_theta).untilted_radius_um(0) / std::max(g.pixel_x_um, g.pixel_y_um);
  result.found_centre = find_ring_centre(image, from, reach, first_ring_px / 2);
  g.center_x_px = result.found_centre.x;
  g.center_y_px = result.found_centre.y;
  // The rings are taken in where this distance puts them, each looked for
  // within a window of a few percent of its radius: the start's distance
  // may be further off.
  std::vector<double> tangents;
  for (double t : rings.two_theta) tangents.push_back(std::tan(t * kDegree));
  g.distance_mm = find_ring_distance_um(image, result.found_centre, g.pixel_x_um, g.pixel_y_um,
                                        tangents, 1000 * g.distance_mm, kDistanceSpan) /
                  1000;
  result.found_distance_mm = g.distance_mm;

  Calibrator calibrator(image, rings, settings);
  calibrator.take_in_rings(&g);
  if (calibrator.active().empty()) {
    if (calibrator.failure()) throw Error(*calibrator.failure());
    throw Error("no ring of " + calibrant.name +
                " found in the image (check the calibrant, wavelength and distance)");
  }
  const int found_points = static_cast<int>(calibrator.points().size());
  const int found_rings = rings_among(calibrator.points());
  if (found_rings < kLeastRings || found_points < kLeastPoints) {
    throw Error("too few ring points for a fit: " + std::to_string(found_points) + " on " +
                std::to_string(found_rings) + (found_rings == 1 ? " ring" : " rings") +
                "; at least " + std::to_string(kLeastPoints) + " on " +
                std::to_string(kLeastRings) + " rings needed");
  }
  const GeometryFit fit = calibrator.settle(&g);

  result.geometry = fit.geometry;
  result.uncertainty = fit.uncertainty;
  result.ring_d_angstrom = rings.d;
  result.points = calibrator.points();
  result.residuals_deg = fit.residuals_deg;
  result.rms_deg = fit.rms_deg;
  // Each residual as a distance on the plate, the tilt left aside:
  // d rho = D d(2 theta) / cos^2 2-theta.
  const std::vector<double> two_theta = two_thetas_of(result.points, result.geometry);
  double squares_px = 0;
  for (std::size_t i = 0; i < two_theta.size(); ++i) {
    const double c = std::cos(two_theta[i] * kDegree);
    const double px = 1000 * result.geometry.distance_mm * result.residuals_deg[i] * kDegree /
                      (c * c * std::min(g.pixel_x_um, g.pixel_y_um));
    squares_px += px * px;
  }
  result.rms_px = std::sqrt(squares_px / std::max<std::size_t>(1, two_theta.size()));
  result.rings_on_plate = calibrator.rings_on_plate(result.geometry);
  std::vector<double> widths;
  for (const RingPoint& p : result.points) widths.push_back(p.width_px);
  const std::vector<double> fitted_two_theta =
      two_thetas_at(rings.d, *result.geometry.wavelength_angstrom);
  result.foreign_ring_deg = foreign_ring_deg(
      image, result.geometry, fitted_two_theta, fitted_two_theta[calibrator.active().front()],
      fitted_two_theta[calibrator.active().back()], median_of(widths));
  for (std::size_t r = 0; r < rings.d.size(); ++r) {
    RingUse use;
    use.index = static_cast<int>(r);
    use.d_angstrom = rings.d[r];
    use.two_theta_deg = two_theta_of_d(rings.d[r], *result.geometry.wavelength_angstrom);
    double sum_of_squares = 0;
    for (std::size_t i = 0; i < result.points.size(); ++i) {
      if (result.points[i].ring != use.index) continue;
      ++use.points;
      sum_of_squares += result.residuals_deg[i] * result.residuals_deg[i];
    }
    if (use.points == 0) continue;
    use.rms_deg = std::sqrt(sum_of_squares / use.points);
    result.rings.push_back(use);
  }
  return result;
}

std::string doubt_about(const Calibration& c, const std::string& calibrant) {
  const int used = static_cast<int>(c.rings.size());
  const bool scattered = c.rms_px > kMostCredibleRmsPx;
  const bool sparse = 2 * used <= c.rings_on_plate;
  if (!scattered && !sparse && !c.foreign_ring_deg) return "";
  std::string why = printf_string(
      "the fit is not credible: rms residual %.2g px on the plate (a good fit's is under %g px), "
      "%d of the %d %s rings on the plate up to the outermost used found (a good fit finds more "
      "than half)",
      c.rms_px, kMostCredibleRmsPx, used, c.rings_on_plate, calibrant.c_str());
  if (c.foreign_ring_deg) {
    why += printf_string(", and the image has a ring at 2-theta %.2f deg that %s has not",
                         *c.foreign_ring_deg, calibrant.c_str());
  }
  return why + "; check the calibrant, wavelength and distance";
}

}  // namespace vokip
