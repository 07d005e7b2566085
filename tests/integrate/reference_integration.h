// Independent reference for the integrations: every bin's members found from
// the bin's own edges, and statistics computed in two passes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace reference {

// Indices of the members of bin i, for ascending keys without NaN and at
// least two centres: lower <= key < upper, where the first bin also takes the
// last key below its lower edge.
inline std::vector<std::int64_t> members(const std::vector<double>& keys,
                                         const std::vector<double>& centres, std::size_t i) {
  const std::size_t m = centres.size();
  const double lower =
      i == 0 ? centres[0] - (centres[1] - centres[0]) / 2 : (centres[i - 1] + centres[i]) / 2;
  const double upper = i + 1 < m ? (centres[i] + centres[i + 1]) / 2
                                 : centres[m - 1] + (centres[m - 1] - centres[m - 2]) / 2;
  std::vector<std::int64_t> in;
  if (i == 0) {
    std::int64_t last_below = -1;
    for (std::size_t j = 0; j < keys.size(); ++j) {
      if (keys[j] < lower) last_below = static_cast<std::int64_t>(j);
    }
    if (last_below >= 0) in.push_back(last_below);
  }
  for (std::size_t j = 0; j < keys.size(); ++j) {
    if (lower <= keys[j] && keys[j] < upper) in.push_back(static_cast<std::int64_t>(j));
  }
  return in;
}

inline std::vector<double> pick(const std::vector<double>& values,
                                const std::vector<std::int64_t>& indices) {
  std::vector<double> picked;
  for (std::int64_t j : indices) picked.push_back(values[j]);
  return picked;
}

struct MeanStatistics {
  double mean, variance, dispersion;
};

// Mean, sample variance (divided by c - 1, or by 1 for one value) and
// dispersion sum((v - mean)^2) / mean, for a non-empty set.
inline MeanStatistics mean_statistics(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  const double mean = sum / v.size();
  double squares = 0;
  for (double x : v) squares += (x - mean) * (x - mean);
  const double divisor = v.size() == 1 ? 1.0 : v.size() - 1.0;
  return {mean, squares / divisor, squares / mean};
}

struct MedianStatistics {
  double median, variance, absdev;
};

// Median (mean of the two middle values for an even count), and the mean
// squared and mean absolute deviations about it, for a non-empty set.
inline MedianStatistics median_statistics(std::vector<double> v) {
  const std::size_t c = v.size();
  std::nth_element(v.begin(), v.begin() + c / 2, v.end());
  double median = v[c / 2];
  if (c % 2 == 0) {
    const double lower_middle = *std::max_element(v.begin(), v.begin() + c / 2);
    median = (lower_middle + median) / 2;
  }
  double squares = 0, absolute = 0;
  for (double x : v) {
    squares += (x - median) * (x - median);
    absolute += std::fabs(x - median);
  }
  return {median, squares / c, absolute / c};
}

// Relative agreement to 1e-12 (exact for zeros and infinities).
inline bool close(double actual, double expected) {
  if (actual == expected) return true;
  return std::fabs(actual - expected) <= 1e-12 * std::max(std::fabs(actual), std::fabs(expected));
}

// The bit pattern, to compare results that may be NaN or signed zeros.
inline std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// A profile with uneven centre spacing, keys on a grid fine enough to fall on
// bin edges and to repeat, keys below the first and above the last bin, and
// stretches without keys that leave bins empty. Values are positive integers.
struct Profile {
  std::vector<double> keys, values, centres;
};

inline Profile random_profile(unsigned seed, std::size_t n_keys, std::size_t n_centres) {
  std::mt19937_64 random(seed);
  Profile p;
  const double gaps[] = {1.0 / 16, 1.0 / 8, 1.0 / 4, 1.0 / 2};
  std::uniform_int_distribution<int> gap(0, 3);
  double centre = 1.0;
  for (std::size_t i = 0; i < n_centres; ++i) {
    p.centres.push_back(centre);
    centre += gaps[gap(random)];
  }
  const double span = centre + 1.0;
  std::uniform_real_distribution<double> where(0.0, span);
  while (p.keys.size() < n_keys) {
    const double key = std::round(where(random) * 32) / 32;
    const bool in_hole =
        (key > 0.3 * span && key < 0.35 * span) || (key > 0.6 * span && key < 0.61 * span);
    if (!in_hole) p.keys.push_back(key);
  }
  std::sort(p.keys.begin(), p.keys.end());
  std::uniform_int_distribution<int> intensity(1, 1000);
  for (std::size_t j = 0; j < n_keys; ++j) p.values.push_back(intensity(random));
  return p;
}

}  // namespace reference
