#include "engine/calibrate/plate_image.h"

#include "engine/base/error.h"
#include "engine/formats/image_files.h"

namespace vokip {

PlateImage::PlateImage(const Image& image, const Mask* mask)
    : width_(image.width()), height_(image.height()) {
  if (mask) check_image_size("mask", mask->width, mask->height, width_, height_);
  values_.resize(static_cast<std::size_t>(image.pixels()));
  for (std::int64_t p = 0; p < image.pixels(); ++p) {
    const double v = image.value(p);
    const bool left_out = v == 0 || (mask && mask->excluded[static_cast<std::size_t>(p)]);
    values_[static_cast<std::size_t>(p)] = left_out ? kNoData : static_cast<float>(v);
  }
}

PlateImage::PlateImage(int width, int height, const std::vector<float>& values)
    : width_(width), height_(height), values_(values.begin(), values.end()) {
  if (width < 1 || height < 1 || values_.size() != static_cast<std::size_t>(width) * height) {
    throw Error("an image of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels needs as many values");
  }
}

}  // namespace vokip
