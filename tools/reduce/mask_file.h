// Mask images: a PGM file (P2 or P5, 8 or 16 bits) of the image's size, rows
// top to bottom like the image's; a non-zero pixel is left out of profiles.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Mask {
  int width = 0, height = 0;
  std::vector<std::uint8_t> excluded;  // one per pixel, row-major: 1 = left out
};

// Parses a mask from a file's bytes; false and a message when it is not one.
bool parse_mask(const std::vector<std::uint8_t>& bytes, Mask* mask, std::string* error);

// Reads and parses a mask file.
bool read_mask(const std::string& path, Mask* mask, std::string* error);
