// Mask images: a PGM file (P2 or P5, 8 or 16 bits) or a FIT2D mask (.msk) of
// the image's size, rows in the image's order; a non-zero pixel (a set bit)
// is left out of profiles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokip {

struct Mask {
  int width = 0, height = 0;
  std::vector<std::uint8_t> excluded;  // one per pixel, row-major: 1 = left out
};

// Parses a PGM mask from a file's bytes; throws Error when it is not one.
Mask parse_mask(const std::vector<std::uint8_t>& bytes);

// FIT2D's binary mask, as FIT2D, pyFAI-calib2 and Dioptas (through fabio)
// write it: a 1024-byte header whose first four 32-bit words are 'M', 'A',
// 'S', 'K' (in the writer's byte order, which they tell) and whose words at
// bytes 16 and 20 are the width and height; then the rows, the first row
// first, each as 32-bit words whose bits, lowest first, are its pixels.
bool is_fit2d_mask(const std::vector<std::uint8_t>& bytes);
Mask parse_fit2d_mask(const std::vector<std::uint8_t>& bytes);

// Reads and parses a mask file.
Mask read_mask(const std::string& path);

}  // namespace vokip
