// Mask images: a PGM file (P2 or P5, 8 or 16 bits) of the image's size, rows
// top to bottom like the image's; a non-zero pixel is left out of profiles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokip {

struct Mask {
  int width = 0, height = 0;
  std::vector<std::uint8_t> excluded;  // one per pixel, row-major: 1 = left out
};

// Parses a mask from a file's bytes; throws Error when it is not one.
Mask parse_mask(const std::vector<std::uint8_t>& bytes);

// Reads and parses a mask file.
Mask read_mask(const std::string& path);

}  // namespace vokip
