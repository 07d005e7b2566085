#include "decode/unpack_image.h"

#include <algorithm>

#include "decode/bit_reader.h"

namespace {

constexpr int kHeaderBits = 6;

// Field width in bits for each width code.
constexpr int kFieldWidth[8] = {0, 4, 5, 6, 7, 8, 16, 32};

// A stored pixel read as a signed 16-bit number.
inline std::int32_t as_signed(std::uint16_t pixel) {
  return static_cast<std::int16_t>(pixel);
}

// The low 16 bits of prediction + difference, added modulo 2^32.
inline std::uint16_t stored(std::int32_t prediction, std::uint32_t difference) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(prediction) + difference);
}

// Writes pixels p .. end-1 (end > p), each its prediction plus the next
// difference from next_difference(). The first row and the first pixel of the
// second row are split off so that the main loop has no test on p.
// A block's header: the width of its fields, and how many of its pixels
// (of `left` still to come) the image takes.
struct Block {
  int field_bits;
  std::int64_t wanted;
};

inline Block next_block(BitReader& reader, std::int64_t left) {
  reader.reserve(kHeaderBits);
  const std::uint32_t header = reader.take(kHeaderBits);
  const std::int64_t count = std::int64_t{1} << (header & 7);
  return {kFieldWidth[header >> 3], std::min(count, left)};
}

template <class NextDifference>
void predict_pixels(std::uint16_t* image, std::int64_t w, std::int64_t p, std::int64_t end,
                    NextDifference next_difference) {
  if (p == 0) {
    image[0] = stored(0, next_difference());
    p = 1;
  }
  // Up to and including p = w: the left neighbour.
  const std::int64_t left_rule_end = w >= end ? end : w + 1;
  for (; p < left_rule_end; ++p) image[p] = stored(as_signed(image[p - 1]), next_difference());
  if (p >= end) return;
  // From p = w + 1 on: the rounded mean of the left, above-right, above and
  // above-left neighbours. For w = 1 the above-right neighbour is pixel p
  // itself, read before it is written.
  std::int32_t left = as_signed(image[p - 1]);
  for (; p < end; ++p) {
    // The row above is summed first: only the left neighbour waits on the
    // previous pixel.
    const std::int32_t above_right = as_signed(image[p - w + 1]);
    const std::int32_t above = as_signed(image[p - w]);
    const std::int32_t above_left = as_signed(image[p - w - 1]);
    const std::int32_t above_sum = above_right + above + above_left + 2;
    const std::int32_t prediction = (left + above_sum) / 4;
    const std::uint16_t pixel = stored(prediction, next_difference());
    image[p] = pixel;
    left = as_signed(pixel);
  }
}

}  // namespace

UnpackResult unpack_image(const std::uint8_t* stream, std::int64_t stream_count,
                          std::uint16_t* output, std::int64_t n, std::int64_t w) {
  if (n < 1) return {0, 0};
  // Without a row above, every pixel is predicted from its left neighbour.
  const std::int64_t width = w >= 1 ? w : n;
  BitReader reader(stream, stream_count);
  std::int64_t p = 0;
  while (p < n) {
    if (reader.bits_left() < kHeaderBits) break;
    const Block block = next_block(reader, n - p);
    const int field_bits = block.field_bits;
    const std::int64_t wanted = block.wanted;

    if (field_bits == 0) {
      predict_pixels(output, width, p, p + wanted, [] { return std::uint32_t{0}; });
      p += wanted;
      continue;
    }
    // Only whole fields that the stream still holds are decoded.
    const std::int64_t available = std::min(wanted, reader.bits_left() / field_bits);
    if (available > 0) {
      reader.reserve(available * field_bits);
      // A field is a two's-complement number of field_bits bits.
      const std::uint32_t sign_bit = std::uint32_t{1} << (field_bits - 1);
      predict_pixels(output, width, p, p + available, [&reader, field_bits, sign_bit] {
        return (reader.take(field_bits) ^ sign_bit) - sign_bit;
      });
      p += available;
    }
    if (available < wanted) break;
  }
  return {p, reader.bytes_fetched()};
}

StreamWalk walk_stream(const std::uint8_t* stream, std::int64_t stream_count, std::int64_t n) {
  // A difference of a 16-bit pixel from a prediction of 16-bit pixels lies
  // well inside +-2^17, whichever way a packer reads them as signed.
  constexpr std::int32_t kWidestDifference = 1 << 17;
  StreamWalk walk{0, 0, -1};
  if (n < 1) return walk;
  BitReader reader(stream, stream_count);
  std::int64_t p = 0;
  while (p < n) {
    if (reader.bits_left() < kHeaderBits) break;
    const Block block = next_block(reader, n - p);
    const int field_bits = block.field_bits;
    const std::int64_t wanted = block.wanted;
    const std::int64_t available =
        field_bits == 0 ? wanted : std::min(wanted, reader.bits_left() / field_bits);
    if (field_bits == 32) {
      reader.reserve(available * 32);
      for (std::int64_t k = 0; k < available; ++k) {
        const auto difference = static_cast<std::int32_t>(reader.take(32));
        if (walk.first_impossible < 0 &&
            (difference < -kWidestDifference || difference >= kWidestDifference)) {
          walk.first_impossible = p + k;
        }
      }
    } else if (field_bits > 0) {
      std::int64_t bits = available * field_bits;
      reader.reserve(bits);
      for (; bits > 0; bits -= 32) reader.take(static_cast<int>(std::min<std::int64_t>(bits, 32)));
    }
    p += available;
    if (available < wanted) break;
  }
  walk.pixels = p;
  walk.bytes_fetched = reader.bytes_fetched();
  return walk;
}
