// Images of per-pixel values other programs write: darks, flats (and the
// masks' values) as TIFF (read with libtiff), EDF (the ESRF data format
// pyFAI and its calibration tool write) and MAR345 images. The format is
// told by the file's first bytes, not its name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokip {

// Larger images than any detector's are damaged headers.
constexpr long kLargestImageSide = 1 << 16;

struct ValueImage {
  int width = 0, height = 0;  // width: the row length, the fastest-varying dimension
  std::vector<float> values;  // row-major
};

enum class ImageFormat { mar345, tiff, edf, pgm, unknown };

// The format the bytes start like.
ImageFormat image_format(const std::vector<std::uint8_t>& bytes);

// A dark or a flat: a MAR345 image (overflow pixels applied), a TIFF of 8-,
// 16- or 32-bit integers or 32-bit floats, or an EDF. Throws Error naming
// what is wrong with the file.
ValueImage read_value_image(const std::string& path);
ValueImage parse_value_image(const std::vector<std::uint8_t>& bytes);

// Throws Error when an image that goes with another (what: "mask", "dark",
// "flat") is not of its size.
void check_image_size(const std::string& what, int width, int height, int image_width,
                      int image_height);

}  // namespace vokip
