// How a geometry map finds the coordinates of each output element.
//
// Element-wise mode, when the mode-deciding coordinate array has exactly one
// element per output element: element i takes x[i] and y[i]. Grid mode
// otherwise: with w the output's first dimension, element i lies in column
// i mod w and row i / w and takes x[column] and y[row].
//
// Coordinates are only read inside their arrays. An element whose coordinate
// lies past the end of its array is set to NaN.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

// A map is handed its coordinates in blocks of at most this many elements, so
// that it can work through a block in several passes while it is in cache.
constexpr std::int64_t kCoordinateBlock = 1024;

// Fills output[0, n) through a map that provides
//   void pairs(const double* x, const double* y, double* out, std::int64_t count) const;
//     out[i] from (x[i], y[i])
//   void row(const double* x, double y, double* out, std::int64_t count) const;
//     out[i] from (x[i], y), all in one grid row
// with count <= kCoordinateBlock. Returns true when every element had both
// coordinates.
//
// A first dimension w < 1 carries no row structure; the output is then taken
// as one row of n elements.
template <class Map>
bool fill_coordinate_map(const Map& map, std::int64_t mode_count, const double* x,
                         std::int64_t x_count, const double* y, std::int64_t y_count,
                         double* output, std::int64_t n, std::int64_t w) {
  if (n <= 0) return true;
  const double missing = std::numeric_limits<double>::quiet_NaN();
  x_count = std::max<std::int64_t>(x_count, 0);
  y_count = std::max<std::int64_t>(y_count, 0);

  if (mode_count == n) {
    const std::int64_t readable = std::min({n, x_count, y_count});
    for (std::int64_t first = 0; first < readable; first += kCoordinateBlock) {
      const std::int64_t count = std::min(kCoordinateBlock, readable - first);
      map.pairs(x + first, y + first, output + first, count);
    }
    std::fill(output + readable, output + n, missing);
    return readable == n;
  }

  const std::int64_t width = w < 1 ? n : w;
  bool complete = true;
  for (std::int64_t row_start = 0, row = 0; row_start < n; row_start += width, ++row) {
    double* out = output + row_start;
    const std::int64_t length = std::min(width, n - row_start);
    const std::int64_t readable = row < y_count ? std::min(length, x_count) : 0;
    for (std::int64_t col = 0; col < readable; col += kCoordinateBlock) {
      const std::int64_t count = std::min(kCoordinateBlock, readable - col);
      map.row(x + col, y[row], out + col, count);
    }
    std::fill(out + readable, out + length, missing);
    complete = complete && readable == length;
  }
  return complete;
}
