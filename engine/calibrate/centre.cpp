#include "engine/calibrate/centre.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "engine/base/constants.h"
#include "engine/base/quantile.h"
#include "engine/geometry/pixel_angles.h"

namespace vokip {

namespace {

const float kNoData = std::numeric_limits<float>::quiet_NaN();

// A reduced copy of the image; NaN where there is no data.
struct Grid {
  int width = 0, height = 0;
  std::vector<float> v;
  float& at(int c, int r) { return v[static_cast<std::size_t>(r) * width + c]; }
  float at(int c, int r) const { return v[static_cast<std::size_t>(r) * width + c]; }
};

// Means of factor x factor blocks; a block with data in fewer than three
// quarters of its pixels has none.
Grid block_means(const PlateImage& image, int factor) {
  Grid g;
  g.width = image.width() / factor;
  g.height = image.height() / factor;
  g.v.assign(static_cast<std::size_t>(g.width) * g.height, kNoData);
  const int least = (3 * factor * factor + 3) / 4;
  for (int r = 0; r < g.height; ++r) {
    for (int c = 0; c < g.width; ++c) {
      double sum = 0;
      int count = 0;
      for (int dr = 0; dr < factor; ++dr) {
        for (int dc = 0; dc < factor; ++dc) {
          const float value = image.at(c * factor + dc, r * factor + dr);
          if (!std::isnan(value)) {
            sum += value;
            ++count;
          }
        }
      }
      if (count >= least) g.at(c, r) = static_cast<float>(sum / count);
    }
  }
  return g;
}

// Each value less the mean of the values with data within reach (a square
// box), by summed-area tables.
Grid local_contrast(const Grid& in, int reach) {
  const int w = in.width, h = in.height;
  std::vector<double> sums(static_cast<std::size_t>(w + 1) * (h + 1), 0);
  std::vector<int> counts(sums.size(), 0);
  auto index = [w](int c, int r) { return static_cast<std::size_t>(r) * (w + 1) + c; };
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const float value = in.at(c, r);
      const bool has = !std::isnan(value);
      sums[index(c + 1, r + 1)] =
          (has ? value : 0) + sums[index(c, r + 1)] + sums[index(c + 1, r)] - sums[index(c, r)];
      counts[index(c + 1, r + 1)] =
          (has ? 1 : 0) + counts[index(c, r + 1)] + counts[index(c + 1, r)] - counts[index(c, r)];
    }
  }
  Grid out = in;
  const int box = (2 * reach + 1) * (2 * reach + 1);
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      if (std::isnan(in.at(c, r))) continue;
      const int c0 = std::max(0, c - reach), c1 = std::min(w, c + reach + 1);
      const int r0 = std::max(0, r - reach), r1 = std::min(h, r + reach + 1);
      const double sum =
          sums[index(c1, r1)] - sums[index(c0, r1)] - sums[index(c1, r0)] + sums[index(c0, r0)];
      const int count = counts[index(c1, r1)] - counts[index(c0, r1)] - counts[index(c1, r0)] +
                        counts[index(c0, r0)];
      out.at(c, r) = 2 * count >= box ? static_cast<float>(in.at(c, r) - sum / count) : kNoData;
    }
  }
  return out;
}

// Clips the values with data to their 0.1 and 99.9 percentiles.
void clip_extremes(Grid* g) {
  std::vector<float> values;
  for (float value : g->v) {
    if (!std::isnan(value)) values.push_back(value);
  }
  if (values.size() < 100) return;
  const float low = quantile_in_place(&values, 0.001);
  const float high = quantile_in_place(&values, 0.999);
  for (float& value : g->v) {
    if (!std::isnan(value)) value = std::clamp(value, low, high);
  }
}

// The largest of each 2 x 2 block with data in at least two pixels: a ring
// narrower than a block still crosses the coarse image as a line at full
// height, where a mean would thin it out.
Grid halved(const Grid& in) {
  Grid g;
  g.width = in.width / 2;
  g.height = in.height / 2;
  g.v.assign(static_cast<std::size_t>(g.width) * g.height, kNoData);
  for (int r = 0; r < g.height; ++r) {
    for (int c = 0; c < g.width; ++c) {
      float largest = -std::numeric_limits<float>::infinity();
      int count = 0;
      for (int k = 0; k < 4; ++k) {
        const float value = in.at(2 * c + k % 2, 2 * r + k / 2);
        if (!std::isnan(value)) {
          largest = std::max(largest, value);
          ++count;
        }
      }
      if (count >= 2) g.at(c, r) = largest;
    }
  }
  return g;
}

class CircleScore {
 public:
  CircleScore(const Grid& g, double least_radius)
      : g_(g),
        least_circle_(std::max<std::size_t>(3, static_cast<std::size_t>(least_radius))),
        sums_(static_cast<std::size_t>(std::hypot(g.width, g.height)) * 2 + 4),
        counts_(sums_.size()) {}

  double operator()(double cx, double cy) {
    std::fill(sums_.begin(), sums_.end(), 0.0);
    std::fill(counts_.begin(), counts_.end(), 0);
    for (int r = 0; r < g_.height; ++r) {
      const double dy = r + 0.5 - cy;
      for (int c = 0; c < g_.width; ++c) {
        const float value = g_.at(c, r);
        if (std::isnan(value)) continue;
        const double dx = c + 0.5 - cx;
        const std::size_t circle = static_cast<std::size_t>(std::sqrt(dx * dx + dy * dy));
        if (circle >= sums_.size()) continue;
        sums_[circle] += value;
        ++counts_[circle];
      }
    }
    // sum^2 / (count r^2) = mean^2 x (count / r) / r: the mean's square,
    // times the share of the circle with data (2 pi r pixels when whole),
    // over the radius, so that inner circles count most.
    double score = 0;
    for (std::size_t circle = least_circle_; circle < sums_.size(); ++circle) {
      if (counts_[circle] >= 8) {
        score += sums_[circle] * sums_[circle] / (double(counts_[circle]) * circle * circle);
      }
    }
    return score;
  }

 private:
  const Grid& g_;
  std::size_t least_circle_;
  std::vector<double> sums_;
  std::vector<int> counts_;
};

// The best of the candidates around (x, y) at offsets -reach .. reach in
// steps of step, in the grid's pixels.
PlatePoint best_near(const Grid& g, double least_radius, PlatePoint around, int reach,
                     double step) {
  CircleScore score(g, least_radius);
  PlatePoint best = around;
  double best_score = -1;
  for (int j = -reach; j <= reach; ++j) {
    for (int i = -reach; i <= reach; ++i) {
      const PlatePoint candidate{around.x + i * step, around.y + j * step};
      const double s = score(candidate.x, candidate.y);
      if (s > best_score) {
        best_score = s;
        best = candidate;
      }
    }
  }
  return best;
}

// The image's mean over circles one bin wide about the centre (pixels
// visited in steps of stride both ways), values clipped at `ceiling`; NaN
// where less than a quarter of the circle has data.
std::vector<double> radial_profile(const PlateImage& image, PlatePoint centre, double pixel_x_um,
                                   double pixel_y_um, double bin_um, int stride, float ceiling) {
  const double corner_um = std::hypot(std::max(centre.x, image.width() - centre.x) * pixel_x_um,
                                      std::max(centre.y, image.height() - centre.y) * pixel_y_um);
  const std::size_t bins = static_cast<std::size_t>(corner_um / bin_um) + 1;
  std::vector<double> sums(bins, 0.0);
  std::vector<int> counts(bins, 0);
  for (int r = stride / 2; r < image.height(); r += stride) {
    const double dy = (r + 0.5 - centre.y) * pixel_y_um;
    for (int c = stride / 2; c < image.width(); c += stride) {
      const float value = image.at(c, r);
      if (std::isnan(value)) continue;
      const double dx = (c + 0.5 - centre.x) * pixel_x_um;
      const std::size_t bin = static_cast<std::size_t>(std::sqrt(dx * dx + dy * dy) / bin_um);
      sums[bin] += std::min(value, ceiling);
      ++counts[bin];
    }
  }
  // A whole circle's pixels in a bin, of those visited.
  const double per_bin = 2 * kPi * bin_um * bin_um / (pixel_x_um * pixel_y_um * stride * stride);
  std::vector<double> profile(bins, std::numeric_limits<double>::quiet_NaN());
  for (std::size_t k = 0; k < bins; ++k) {
    if (counts[k] > 0 && counts[k] >= 0.25 * per_bin * (k + 0.5)) profile[k] = sums[k] / counts[k];
  }
  return profile;
}

// The profile less its median over reach bins on either side, then
// smoothed over five bins: what stands above the background, ring by ring.
std::vector<double> peaks_of(const std::vector<double>& profile, int reach) {
  const int n = static_cast<int>(profile.size());
  std::vector<double> above(profile.size(), std::numeric_limits<double>::quiet_NaN());
  std::vector<double> around;
  for (int k = 0; k < n; ++k) {
    if (std::isnan(profile[k])) continue;
    around.clear();
    for (int j = std::max(0, k - reach); j <= std::min(n - 1, k + reach); ++j) {
      if (!std::isnan(profile[j])) around.push_back(profile[j]);
    }
    above[k] = profile[k] - quantile_in_place(&around, 0.5);
  }
  std::vector<double> smoothed(profile.size(), std::numeric_limits<double>::quiet_NaN());
  const double weights[] = {1, 2, 3, 2, 1};
  for (int k = 2; k + 2 < n; ++k) {
    double sum = 0;
    for (int j = 0; j < 5; ++j) sum += weights[j] * above[k + j - 2];
    smoothed[k] = sum / 9;
  }
  return smoothed;
}

// Some two million pixels are plenty for a mean around each circle: the
// step between the pixels visited, both ways.
int profile_stride(const PlateImage& image) {
  return std::max(1, static_cast<int>(std::sqrt(double(image.width()) * image.height() / 2e6)));
}

// The 99.9th percentile of the values with data (of a sample of them).
float clip_ceiling(const PlateImage& image, int stride) {
  std::vector<float> sample;
  for (int r = stride / 2; r < image.height(); r += 4 * stride) {
    for (int c = stride / 2; c < image.width(); c += stride) {
      if (!std::isnan(image.at(c, r))) sample.push_back(image.at(c, r));
    }
  }
  return sample.empty() ? 0.0f : quantile_in_place(&sample, 0.999);
}

}  // namespace

std::vector<double> two_theta_peaks(const PlateImage& image, const Geometry& g, double bin_deg) {
  const int stride = profile_stride(image);
  const float ceiling = clip_ceiling(image, stride);
  std::vector<double> sums, x;
  std::vector<int> counts;
  for (int c = stride / 2; c < image.width(); c += stride) x.push_back(c + 0.5);
  for (int r = stride / 2; r < image.height(); r += stride) {
    const std::vector<double> two_theta =
        point_two_thetas(g, x, std::vector<double>(x.size(), r + 0.5));
    for (std::size_t i = 0; i < x.size(); ++i) {
      const float value = image.at(static_cast<int>(x[i]), r);
      if (std::isnan(value) || !(two_theta[i] >= 0)) continue;
      const std::size_t bin = static_cast<std::size_t>(two_theta[i] / bin_deg);
      if (bin >= sums.size()) {
        sums.resize(bin + 1, 0.0);
        counts.resize(bin + 1, 0);
      }
      sums[bin] += std::min(value, ceiling);
      ++counts[bin];
    }
  }
  // As around circles: NaN where less than a quarter of the ring (untilted)
  // has data.
  const double pixel_um = std::sqrt(g.pixel_x_um * g.pixel_y_um);
  std::vector<double> profile(sums.size(), std::numeric_limits<double>::quiet_NaN());
  for (std::size_t k = 0; k < sums.size(); ++k) {
    const double t = (k + 0.5) * bin_deg * kDegree, c = std::cos(t);
    const double radius_px = 1000 * g.distance_mm * std::tan(t) / pixel_um;
    const double width_px = 1000 * g.distance_mm * bin_deg * kDegree / (c * c * pixel_um);
    if (counts[k] > 0 && counts[k] >= 0.25 * 2 * kPi * radius_px * width_px / (stride * stride)) {
      profile[k] = sums[k] / counts[k];
    }
  }
  return peaks_of(profile, 20);
}

double find_ring_distance_um(const PlateImage& image, PlatePoint centre, double pixel_x_um,
                             double pixel_y_um, const std::vector<double>& ring_tangents,
                             double start_um, double span) {
  const int stride = profile_stride(image);
  const float ceiling = clip_ceiling(image, stride);
  const double bin_um = std::min(pixel_x_um, pixel_y_um);
  const std::vector<double> peaks =
      peaks_of(radial_profile(image, centre, pixel_x_um, pixel_y_um, bin_um, stride, ceiling), 20);
  const double last = static_cast<double>(peaks.size()) - 1;

  const int rings_scored = 8;
  auto score = [&](double distance_um) {
    double sum = 0;
    int scored = 0;
    for (double tangent : ring_tangents) {
      const double at = distance_um * tangent / bin_um;
      if (!(at < last)) break;
      const std::size_t k = static_cast<std::size_t>(at);
      const double value = peaks[k] + (at - k) * (peaks[k + 1] - peaks[k]);
      if (std::isnan(value)) continue;
      sum += value;
      if (++scored == rings_scored) break;
    }
    return sum;
  };
  // Steps that move the outermost circle by a quarter of a bin.
  const double step = 1 + 0.25 / last;
  double best = start_um, best_score = score(start_um);
  for (double d = start_um / span; d <= start_um * span; d *= step) {
    const double s = score(d);
    if (s > best_score) {
      best_score = s;
      best = d;
    }
  }
  return best;
}

PlatePoint find_ring_centre(const PlateImage& image, PlatePoint start, double search_radius_px,
                            double least_radius_px) {
  // The finest level is at most 400 pixels across: rings a few pixels wide
  // still stand out at that scale, and each score sums its pixels once.
  const int factor = std::max(1, (std::min(image.width(), image.height()) + 399) / 400);
  Grid finest = local_contrast(block_means(image, factor), 3);
  clip_extremes(&finest);
  std::vector<Grid> levels;
  levels.push_back(std::move(finest));
  // Coarser levels until the search spans a few of their pixels, while they
  // keep some 64 pixels across; on the top level every pixel of the search
  // is a candidate.
  const double widest_reach = 6;
  while (search_radius_px / (factor << (levels.size() - 1)) > widest_reach &&
         std::min(levels.back().width, levels.back().height) / 2 >= 64) {
    // Rings too close to stay apart at the coarser scale merge into bright
    // bands; the contrast taken again leaves only what still has shape.
    levels.push_back(local_contrast(halved(levels.back()), 3));
  }
  const int top = static_cast<int>(levels.size()) - 1;
  const double top_scale = factor << top;
  PlatePoint at{start.x / top_scale, start.y / top_scale};
  at = best_near(levels[top], least_radius_px / top_scale, at,
                 static_cast<int>(std::ceil(search_radius_px / top_scale)), 1);
  for (int level = top - 1; level >= 0; --level) {
    at = best_near(levels[level], least_radius_px / (factor << level), {2 * at.x, 2 * at.y}, 2, 1);
  }
  at = best_near(levels[0], least_radius_px / factor, at, 1, 0.5);
  return {at.x * factor, at.y * factor};
}

}  // namespace vokip
