// Masks: which pixels are left out of profiles, from a file of the image's
// size in any of the formats the field writes them in: PGM (P2 or P5, 8 or
// 16 bits), FIT2D's binary .msk, TIFF or EDF. A pixel that is not 0 (a set
// bit) is left out. The format is told by the file's first bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokip {

struct Mask {
  int width = 0, height = 0;
  std::vector<std::uint8_t> excluded;  // one per pixel, row-major: 1 = left out
};

// Parses a mask from a file's bytes; throws Error saying what is wrong when
// they are not one.
//
// FIT2D's mask, as FIT2D, pyFAI-calib2 and Dioptas (through fabio) write
// it: a 1024-byte header whose first four 32-bit words are 'M', 'A', 'S',
// 'K' (in the writer's byte order, which they tell) and whose words at bytes
// 16 and 20 are the width and height; then the rows, the first row first,
// each as 32-bit words whose bits, lowest first, are its pixels.
Mask parse_mask(const std::vector<std::uint8_t>& bytes);

// Reads and parses a mask file.
Mask read_mask(const std::string& path);

}  // namespace vokip
