// What a reduction gives: a profile's bins with their statistics, the
// pixels' tally and, when asked for, the cake.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/geometry/units.h"

namespace vokip {

// A bin's intensity: the mean, the sum of its pixels' signals (raw - dark)
// over the sum of their normalisations (flat x solid angle x polarization),
// each pixel counted with the share of it in the bin; or the median of its
// pixels' corrected values (signal / normalisation), each weighted by its
// share.
enum class Statistic { mean, median };

// How a bin's standard error is estimated: not at all; from counting
// statistics (a pixel's variance is its raw count plus the dark's value:
// sigma = sqrt(sum of share^2 x variance) / sum of share x normalisation);
// or from the spread of the bin's corrected values about their mean or
// median (the standard error of a weighted mean: sqrt(variance x sum of
// weight^2) / sum of weights).
enum class ErrorModel { none, poisson, azimuthal };

// How a pixel is binned: all of it in the bin of its centre (none); spread
// evenly over the interval its corners span around its centre (bbox), on
// each axis; or by the area of its quadrilateral, its corners' exact
// positions, in each bin (full).
enum class Split { none, bbox, full };

const char* split_name(Split split);
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

// The cake: radial bins (the profile's, or fewer over the same range) in
// every azimuth bin.
struct Cake {
  AzimuthBins azimuth;
  std::vector<double> centre;  // the radial bins' centres, in the profile's keys
  double bin_width = 0;
  std::vector<double> value;  // azimuth bins x radial bins, row j for azimuth bin j; NaN when empty
  std::vector<double> count;  // pixels per cell (their shares, when pixels are split)
  bool empty() const { return azimuth.count == 0; }
};

struct Profile {
  Unit unit = Unit::two_theta_deg;
  Statistic statistic = Statistic::mean;
  std::vector<double> centre;
  std::vector<double> count;     // pixels per bin (the sum of their shares, when pixels are split)
  std::vector<double> value;     // mean or median; NaN for an empty bin
  std::vector<double> variance;  // sample variance, or variance about the median
  std::vector<double> spread;    // dispersion sum((v - mean)^2) / mean, or mean |v - median|
  std::vector<double> standard_error;  // sqrt(variance x sum of weight^2) / sum of weights
  std::vector<double> sigma;           // standard error of the value; empty without an error model
  ErrorModel error_model = ErrorModel::none;
  Split split = Split::none;  // with split pixels, counts are sums of shares
  double bin_width = 0;
  PixelTally pixels;
  Cake cake;  // when the plan has azimuth bins
};

}  // namespace vokip
