// Decoder of the MAR image plate's packed pixel stream.
#pragma once

#include <cstdint>

struct UnpackResult {
  std::int64_t pixels;         // pixels decoded: n, or fewer when the stream ended first
  std::int64_t bytes_fetched;  // stream bytes read: those holding the bits taken
};

// Decodes n pixels of an image of width w from stream[0 .. stream_count-1] into output.
// Stops when n pixels are done or the stream ends (pixels >= that point untouched).
// Each pixel is a signed difference from a prediction made from pixels already decoded,
// on flat indices: the left neighbour along the first row (and for the first pixel of
// the second row), the rounded mean of the left, above-right, above and above-left
// neighbours after that. For w = 1 the above-right neighbour of pixel p >= 2 is output[p]
// itself, read before it is written (its prior content). w < 1 decodes the image as one
// row; n < 1 decodes and reads nothing.
UnpackResult unpack_image(const std::uint8_t* stream, std::int64_t stream_count,
                          std::uint16_t* output, std::int64_t n, std::int64_t w);

struct StreamWalk {
  std::int64_t pixels;         // pixels the stream holds: n, or fewer when it ends first
  std::int64_t bytes_fetched;  // as unpack_image's
  // The first pixel whose difference lies beyond any that a 16-bit image
  // gives (a 32-bit field outside -2^17 .. 2^17 - 1), or -1: where data that
  // do not decode were found.
  std::int64_t first_impossible;
};

// Walks the stream's block headers as unpack_image would decode n pixels,
// without writing any: the pixels it holds and where it stops are exactly
// unpack_image's. Reads only the 32-bit fields' values.
StreamWalk walk_stream(const std::uint8_t* stream, std::int64_t stream_count, std::int64_t n);
