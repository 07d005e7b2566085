// How an image is shown at a picture's size: reduced by a whole factor, each
// picture pixel standing for a block of image pixels, and its values put on
// a logarithmic scale.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace vokip {

// An image of image_width x image_height pixels shown at most largest_side
// picture pixels a side: blocks of step x step image pixels (partial at the
// right and bottom edges) make one picture pixel.
struct PictureBlocks {
  PictureBlocks(int image_width, int image_height, int largest_side)
      : step(std::max(1, (std::max(image_width, image_height) + largest_side - 1) / largest_side)),
        width((image_width + step - 1) / step),
        height((image_height + step - 1) / step) {}

  int step, width, height;
  // The picture pixel of image pixel (column, row), row-major.
  std::size_t at(int column, int row) const {
    return static_cast<std::size_t>(row / step) * width + column / step;
  }
};

// Each picture pixel's largest value among its block's values value_at(column,
// row); 0 where none is above 0 (no data, NaN, is never the largest).
template <class ValueAt>
std::vector<double> block_maxima(const PictureBlocks& blocks, int image_width, int image_height,
                                 ValueAt value_at) {
  std::vector<double> largest(static_cast<std::size_t>(blocks.width) * blocks.height, 0.0);
  for (int row = 0; row < image_height; ++row) {
    for (int column = 0; column < image_width; ++column) {
      const double v = value_at(column, row);
      double& block = largest[blocks.at(column, row)];
      if (v > block) block = v;
    }
  }
  return largest;
}

// Image values on a logarithmic scale for pictures: 0 at the 1st percentile
// of the positive values, 1 at the 99.9th.
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
