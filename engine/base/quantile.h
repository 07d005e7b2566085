// Order statistics of samples: the value a share of them lie below, by a
// partial sort in place, and the robust spread built on the median.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vokip {

// The median absolute deviation of normally distributed samples times this
// is their standard deviation.
constexpr double kStandardDeviationsPerMedianDeviation = 1.4826;

// The element at position share x (n - 1) of the values in ascending order
// (0.5: the median, the upper of the middle two). The values must not be
// empty; their order is changed.
template <class T>
T quantile_in_place(std::vector<T>* values, double share) {
  const auto at = static_cast<std::ptrdiff_t>(share * (values->size() - 1) + 0.5);
  std::nth_element(values->begin(), values->begin() + at, values->end());
  return (*values)[static_cast<std::size_t>(at)];
}

// The median of a copy of the values.
inline double median_of(std::vector<double> values) {
  return quantile_in_place(&values, 0.5);
}

// The median of the values from begin to end, copied into scratch, which
// keeps its memory for the next.
template <class It>
double median_of(It begin, It end, std::vector<double>* scratch) {
  scratch->assign(begin, end);
  return quantile_in_place(scratch, 0.5);
}

}  // namespace vokip
