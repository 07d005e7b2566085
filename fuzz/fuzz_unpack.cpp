// Fuzzes unpack_image on arbitrary streams (input layout in unpack_input.h).
//
// Every decode runs on an exactly sized heap copy of the stream and an exactly
// sized output, so the sanitizers catch a fetch at or past the stream's end and
// a write past the image. On top of that the harness traps when the result
// breaks what the decoder promises:
//   - pixels is in 0..n and bytes_fetched in 0..stream_count; n < 1 gives {0, 0};
//   - pixels from result.pixels on keep their prior content;
//   - the result agrees with a bit-at-a-time model decoder, pixel for pixel,
//     with bytes_fetched exactly the bytes holding the bits the model took;
//   - walk_stream stops where the decoder stops, and finds the model's first
//     32-bit difference that no 16-bit image gives;
//   - decoding twice gives the same result;
//   - how far the decode gets does not depend on the output's prior content,
//     and the pixels do not either unless w = 1;
//   - the prefix of bytes_fetched bytes decodes to the same result and image;
//   - any shorter prefix decodes no more pixels, and those it decodes agree
//     with the full decode; it stops short of n when the full decode reached n.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "decode/decode_exact.h"
#include "decode/unpack_image.h"
#include "invariant.h"
#include "unpack_input.h"

namespace {

using Pixels = std::vector<std::uint16_t>;

bool same(const UnpackResult& a, const UnpackResult& b) {
  return a.pixels == b.pixels && a.bytes_fetched == b.bytes_fetched;
}

// Decodes the first `count` bytes of `stream` into n pixels whose prior
// content is `before`, in exactly sized buffers.
Decoded decode(const std::uint8_t* stream, std::int64_t count, std::int64_t w,
               const Pixels& before) {
  return decode_exact_with(unpack_image, stream, count, w, before);
}

// The model: one bit at a time, each pixel choosing its predictor by index.
struct ModelResult {
  std::int64_t pixels;
  std::int64_t bits_taken;
  std::int64_t first_impossible;  // the first 32-bit difference outside -2^17 .. 2^17 - 1, or -1
};

ModelResult model_decode(const std::uint8_t* stream, std::int64_t count, std::int64_t w,
                         Pixels* image) {
  static const int kWidths[8] = {0, 4, 5, 6, 7, 8, 16, 32};
  const std::int64_t n = static_cast<std::int64_t>(image->size());
  const std::int64_t width = w >= 1 ? w : n;
  const std::int64_t total_bits = 8 * count;
  std::int64_t bit = 0;
  auto take = [&](int k) {
    std::uint64_t value = 0;
    for (int i = 0; i < k; ++i, ++bit) {
      value |= std::uint64_t{(stream[bit / 8] >> (bit % 8)) & 1u} << i;
    }
    return value;
  };
  Pixels& img = *image;
  auto s16 = [&img](std::int64_t i) { return std::int64_t{static_cast<std::int16_t>(img[i])}; };

  std::int64_t p = 0, impossible = -1;
  while (p < n) {
    if (total_bits - bit < 6) break;
    const std::uint64_t header = take(6);
    const std::int64_t values = std::int64_t{1} << (header & 7);
    const int bits = kWidths[header >> 3];
    bool ended = false;
    for (std::int64_t k = 0; k < values && p < n; ++k) {
      std::int64_t d = 0;
      if (bits > 0) {
        if (total_bits - bit < bits) {
          ended = true;
          break;
        }
        const std::uint64_t field = take(bits);
        const bool negative = (field >> (bits - 1)) & 1u;
        d = static_cast<std::int64_t>(field) - (negative ? std::int64_t{1} << bits : 0);
        if (impossible < 0 && (d < -(1 << 17) || d >= (1 << 17))) impossible = p;
      }
      std::int64_t prediction = 0;
      if (p > width) {
        // Division in C++ truncates toward zero, as the predictor requires.
        prediction =
            (s16(p - 1) + s16(p - width + 1) + s16(p - width) + s16(p - width - 1) + 2) / 4;
      } else if (p > 0) {
        prediction = s16(p - 1);
      }
      img[p] = static_cast<std::uint16_t>((prediction + d) & 0xFFFF);
      ++p;
    }
    if (ended) break;
  }
  return {p, bit, impossible};
}

// The basic promises of one decode of `count` stream bytes from prior content `before`.
void check_bounds(const Decoded& d, std::int64_t count, const Pixels& before) {
  const std::int64_t n = static_cast<std::int64_t>(before.size());
  CHECK(d.result.pixels >= 0);
  CHECK(d.result.pixels <= std::max<std::int64_t>(n, 0));
  CHECK(d.result.bytes_fetched >= 0);
  CHECK(d.result.bytes_fetched <= count);
  if (n < 1) CHECK(d.result.pixels == 0 && d.result.bytes_fetched == 0);
  for (std::int64_t p = d.result.pixels; p < n; ++p) CHECK(d.image[p] == before[p]);
}

// A decode of a prefix of `length` bytes, shorter than the bytes the full decode fetched.
void check_shorter_prefix(const Decoded& full, const Decoded& part, std::int64_t length,
                          std::int64_t n) {
  CHECK(length < full.result.bytes_fetched);
  CHECK(part.result.pixels <= full.result.pixels);
  CHECK(part.result.bytes_fetched <= length);
  if (full.result.pixels == n) CHECK(part.result.pixels < n);
  for (std::int64_t p = 0; p < part.result.pixels; ++p) CHECK(part.image[p] == full.image[p]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_unpack::Input in;
  if (!fuzz_unpack::read_input(data, size, &in)) return 0;
  const std::int64_t n = in.n, w = in.w, count = in.stream_count;
  const Pixels sentinel(static_cast<std::size_t>(n), fuzz_unpack::kSentinel);

  const Decoded first = decode(in.stream, count, w, sentinel);
  check_bounds(first, count, sentinel);

  Pixels modelled = sentinel;
  const ModelResult model = model_decode(in.stream, count, w, &modelled);
  CHECK(first.result.pixels == model.pixels);
  CHECK(first.result.bytes_fetched == (model.bits_taken + 7) / 8);
  CHECK(first.image == modelled);

  // The walk over the block headers stops where the decoder does.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[static_cast<std::size_t>(count)]);
  std::copy(in.stream, in.stream + count, copy.get());
  const StreamWalk walk = walk_stream(copy.get(), count, n);
  CHECK(walk.pixels == first.result.pixels);
  CHECK(walk.bytes_fetched == first.result.bytes_fetched);
  CHECK(walk.first_impossible == model.first_impossible);

  const Decoded again = decode(in.stream, count, w, sentinel);
  CHECK(same(again.result, first.result));
  CHECK(again.image == first.image);

  // Other prior content: a pattern that differs from pixel to pixel.
  Pixels pattern(static_cast<std::size_t>(n));
  for (std::size_t p = 0; p < pattern.size(); ++p) {
    pattern[p] = static_cast<std::uint16_t>(p * 40503u + 0x3C1Du);
  }
  const Decoded patterned = decode(in.stream, count, w, pattern);
  check_bounds(patterned, count, pattern);
  CHECK(same(patterned.result, first.result));
  if (w == 1) {
    Pixels modelled_on_pattern = pattern;
    model_decode(in.stream, count, w, &modelled_on_pattern);
    CHECK(patterned.image == modelled_on_pattern);
  } else {
    CHECK(std::equal(first.image.begin(), first.image.begin() + first.result.pixels,
                     patterned.image.begin()));
  }

  // The decoder needed no byte past those it fetched.
  const std::int64_t fetched = first.result.bytes_fetched;
  const Decoded exact = decode(in.stream, fetched, w, sentinel);
  check_bounds(exact, fetched, sentinel);
  CHECK(same(exact.result, first.result));
  CHECK(exact.image == first.image);

  if (fetched > 0) {
    const Decoded shorter = decode(in.stream, fetched - 1, w, sentinel);
    check_bounds(shorter, fetched - 1, sentinel);
    check_shorter_prefix(first, shorter, fetched - 1, n);
  }

  const std::int64_t cut = count * in.cut / 255;
  const Decoded prefix = decode(in.stream, cut, w, sentinel);
  check_bounds(prefix, cut, sentinel);
  if (cut >= fetched) {
    CHECK(same(prefix.result, first.result));
    CHECK(prefix.image == first.image);
  } else {
    check_shorter_prefix(first, prefix, cut, n);
  }
  return 0;
}
