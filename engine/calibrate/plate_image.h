// The image as calibration reads it: intensities as floats with NaN where
// there is no data (value 0) or the mask leaves a pixel out, so that any
// value computed from such a pixel is NaN too and is dropped.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/formats/image.h"
#include "engine/formats/mask.h"
#include "engine/memory/huge_pages.h"

namespace vokip {

class PlateImage {
 public:
  // Throws Error when the mask is not of the image's size.
  PlateImage(const Image& image, const Mask* mask);
  // Row-major values, NaN for no data.
  PlateImage(int width, int height, const std::vector<float>& values);

  int width() const { return width_; }
  int height() const { return height_; }
  float at(int column, int row) const {
    return values_[static_cast<std::size_t>(row) * width_ + column];
  }

  // Bilinear interpolation at (x, y) in the pixel frame, where pixel (c, r)
  // has its centre at (c + 0.5, r + 0.5): NaN outside the pixel centres'
  // hull or when one of the four pixels around has no data.
  float sample(double x, double y) const {
    const double u = x - 0.5, v = y - 0.5;
    const double c0 = std::floor(u), r0 = std::floor(v);
    if (!(c0 >= 0 && r0 >= 0 && c0 + 1 < width_ && r0 + 1 < height_)) return kNoData;
    const double fx = u - c0, fy = v - r0;
    const float* top =
        values_.data() + static_cast<std::size_t>(r0) * width_ + static_cast<std::size_t>(c0);
    const float* bottom = top + width_;
    const double upper = top[0] + fx * (top[1] - top[0]);
    const double lower = bottom[0] + fx * (bottom[1] - bottom[0]);
    return static_cast<float>(upper + fy * (lower - upper));
  }

  static constexpr float kNoData = std::numeric_limits<float>::quiet_NaN();

 private:
  int width_ = 0, height_ = 0;
  std::vector<float, HugePageAllocator<float>> values_;
};

}  // namespace vokip
