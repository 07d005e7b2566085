// What a reduction gives: a profile's bins with their statistics, the
// pixels' tally and, when asked for, the cake.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/geometry/units.h"

namespace vokip {

enum class Statistic { mean, median };

// How a bin's standard error is estimated: not at all; from counting
// statistics (a pixel's variance is its raw count, plus the dark's value
// when one is subtracted, over its correction factor squared: sigma =
// sqrt(sum of variances) / count); or from the spread of the bin's values
// about their mean or median (sigma = sqrt(variance / count)).
enum class ErrorModel { none, poisson, azimuthal };

const char* statistic_name(Statistic statistic);
const char* error_model_name(ErrorModel model);

struct PixelTally {
  std::int64_t total = 0;
  std::int64_t zero = 0;            // value 0: no data
  std::int64_t masked = 0;          // flagged by the mask (or by an unusable dark or flat)
  std::int64_t off_sector = 0;      // outside the azimuth sector
  std::int64_t off_range = 0;       // outside the bins (or angle not a number)
  std::int64_t outside_limits = 0;  // raw value below the low or above the high limit
  std::int64_t used = 0;
};

// The azimuth bins of a cake: bin j spans from_deg + j * width_deg to
// from_deg + (j + 1) * width_deg.
struct AzimuthBins {
  int count = 0;
  double from_deg = 0, width_deg = 0;
  double centre(int j) const { return from_deg + (j + 0.5) * width_deg; }
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

}  // namespace vokip
