// Order statistics of samples for calibration: the value a share of them
// lie below, by a partial sort of the samples in place.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace vokip {

// The element at position share x (n - 1) of the values in ascending order
// (0.5: the median, the upper of the middle two). The values must not be
// empty; their order is changed.
template <class T>
T quantile_in_place(std::vector<T>* values, double share) {
  const auto at = static_cast<std::ptrdiff_t>(share * (values->size() - 1) + 0.5);
  std::nth_element(values->begin(), values->begin() + at, values->end());
  return (*values)[static_cast<std::size_t>(at)];
}

}  // namespace vokip
