// 8-bit pictures, grey or colour, written as PNG files (libpng).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokip {

struct Rgb {
  std::uint8_t r = 0, g = 0, b = 0;
};

struct Picture {
  enum class Colour { grey, rgb };

  Picture() = default;
  // A picture of one colour (for grey pictures, its green).
  Picture(int width, int height, Colour colour, Rgb fill = {});

  int width = 0, height = 0;
  Colour colour = Colour::rgb;
  std::vector<std::uint8_t> samples;  // row-major, top row first; 1 or 3 (r, g, b) per pixel

  int channels() const { return colour == Colour::grey ? 1 : 3; }
  bool contains(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  // Sets the pixel at column x, row y (for grey pictures to the colour's
  // green); pixels outside the picture are left alone.
  void set(int x, int y, Rgb colour);
  Rgb at(int x, int y) const;
};

// The picture as the bytes of a PNG file. Throws Error when its size or
// sample count is not that of a picture.
std::vector<std::uint8_t> encode_png(const Picture& picture);

// Writes the picture to a PNG file (through a temporary beside it).
void write_png(const std::string& path, const Picture& picture);

}  // namespace vokip
