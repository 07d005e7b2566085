// Image values on a logarithmic scale for pictures: 0 at the 1st percentile
// of the positive values, 1 at the 99.9th.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vokip {

class LogScale {
 public:
  explicit LogScale(std::vector<double> positive) {
    if (positive.empty()) return;
    // The two percentiles are order statistics: found in linear time, with
    // the values they would have in the sorted list.
    const auto low = positive.begin() + static_cast<std::ptrdiff_t>(positive.size() / 100);
    const auto high = positive.end() - 1 - static_cast<std::ptrdiff_t>(positive.size() / 1000);
    std::nth_element(positive.begin(), high, positive.end());
    std::nth_element(positive.begin(), low, high);
    low_ = std::log10(*low);
    high_ = std::log10(*high);
    if (!(high_ > low_)) high_ = low_ + 1;
  }
  // Of a positive value; below 0 or above 1 outside the percentiles.
  double operator()(double v) const { return (std::log10(v) - low_) / (high_ - low_); }

 private:
  double low_ = 0, high_ = 1;
};

}  // namespace vokip
