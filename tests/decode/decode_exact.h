// Runs a decoder on heap copies of exactly the stream's and the image's size,
// so that sanitizer builds catch any access one element past either.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/reference_unpack.h"
#include "decode/unpack_image.h"

struct Decoded {
  UnpackResult result;
  std::vector<std::uint16_t> image;
};

// `before` is the output's content before decoding; its size is n.
template <class Decoder>
Decoded decode_exact_with(Decoder decoder, const std::uint8_t* stream, std::int64_t count,
                          std::int64_t w, const std::vector<std::uint16_t>& before) {
  const std::size_t n = before.size();
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[static_cast<std::size_t>(count)]);
  std::copy(stream, stream + count, bytes.get());
  std::unique_ptr<std::uint16_t[]> output(new std::uint16_t[n]);
  std::copy(before.begin(), before.end(), output.get());
  const UnpackResult result =
      decoder(bytes.get(), count, output.get(), static_cast<std::int64_t>(n), w);
  return {result, std::vector<std::uint16_t>(output.get(), output.get() + n)};
}

inline Decoded decode_exact(const std::vector<std::uint8_t>& stream, std::int64_t w,
                            const std::vector<std::uint16_t>& before) {
  return decode_exact_with(unpack_image, stream.data(), static_cast<std::int64_t>(stream.size()), w,
                           before);
}

inline Decoded reference_exact(const std::vector<std::uint8_t>& stream, std::int64_t w,
                               const std::vector<std::uint16_t>& before) {
  auto decoder = [](const std::uint8_t* s, std::int64_t c, std::uint16_t* out, std::int64_t n,
                    std::int64_t width) {
    const reference::Result r = reference::unpack(s, c, out, n, width);
    return UnpackResult{r.pixels, r.bytes_fetched};
  };
  return decode_exact_with(decoder, stream.data(), static_cast<std::int64_t>(stream.size()), w,
                           before);
}
