// Image values on a logarithmic scale for pictures: 0 at the 1st percentile
// of the positive values, 1 at the 99.9th.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

namespace vokip {

class LogScale {
 public:
  explicit LogScale(std::vector<double> positive) {
    if (positive.empty()) return;
    std::sort(positive.begin(), positive.end());
    low_ = std::log10(positive[positive.size() / 100]);
    high_ = std::log10(positive[positive.size() - 1 - positive.size() / 1000]);
    if (!(high_ > low_)) high_ = low_ + 1;
  }
  // Of a positive value; below 0 or above 1 outside the percentiles.
  double operator()(double v) const { return (std::log10(v) - low_) / (high_ - low_); }

 private:
  double low_ = 0, high_ = 1;
};

}  // namespace vokip
