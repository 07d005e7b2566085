// One image reduced with a plan: the values of the plan's pixels gathered in
// its order, pixels of value 0 (no data) left out, and binned by the
// module's integration cores.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/geometry/units.h"
#include "engine/memory/huge_pages.h"
#include "engine/plan/plan.h"
#include "engine/run/image.h"

namespace vokip {

enum class Statistic { mean, median };

// How a bin's standard error is estimated: not at all; from counting
// statistics (a pixel's variance is its raw count, plus the dark's value
// when one is subtracted, over its correction factor squared: sigma =
// sqrt(sum of variances) / count); or from the spread of the bin's values
// about their mean or median (sigma = sqrt(variance / count)).
enum class ErrorModel { none, poisson, azimuthal };

// What a reduction of one image asks for beyond its plan.
struct RunOptions {
  Statistic statistic = Statistic::mean;
  ErrorModel error_model = ErrorModel::none;
  // Pixels whose raw value lies below low or above high are left out.
  std::optional<double> low, high;
};

struct PixelTally {
  std::int64_t total = 0;
  std::int64_t zero = 0;            // value 0: no data
  std::int64_t masked = 0;          // flagged by the mask (or by an unusable dark or flat)
  std::int64_t off_sector = 0;      // outside the azimuth sector
  std::int64_t off_range = 0;       // outside the bins (or angle not a number)
  std::int64_t outside_limits = 0;  // raw value below --low or above --high
  std::int64_t used = 0;
};

// The cake: the radial bins of the profile in every azimuth bin.
struct Cake {
  AzimuthBins azimuth;
  std::vector<double> value;  // azimuth bins x radial bins, row j for azimuth bin j; NaN when empty
  std::vector<std::int64_t> count;  // pixels per cell
  bool empty() const { return azimuth.count == 0; }
};

struct Profile {
  Unit unit = Unit::two_theta_deg;
  Statistic statistic = Statistic::mean;
  std::vector<double> centre;
  std::vector<std::int64_t> count;  // pixels per bin
  std::vector<double> value;        // mean or median; NaN for an empty bin
  std::vector<double> variance;     // sample variance, or variance about the median
  std::vector<double> spread;       // dispersion sum((v - mean)^2) / mean, or mean |v - median|
  std::vector<double> sigma;        // standard error of the value; empty without an error model
  ErrorModel error_model = ErrorModel::none;
  double bin_width = 0;
  PixelTally pixels;
  Cake cake;  // when the plan has azimuth bins
};

// Buffers of one thread's share of a reduction, kept from image to image.
struct Workspace {
  std::vector<double, HugePageAllocator<double>> keys, values;
  std::vector<double> first, second, third;
};

// Reduces the image; the work is shared by as many threads as there are
// workspaces (at least one). Throws Error when the image does not fit the
// plan or leaves no pixel to bin.
Profile reduce_image(const Plan& plan, const Image& image, const RunOptions& options,
                     std::vector<Workspace>* workspaces);

}  // namespace vokip
