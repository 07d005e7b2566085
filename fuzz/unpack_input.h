// How fuzz_unpack reads its input, shared with the seed generator: four
// leading bytes choose the image and a cut point, the rest is the packed
// stream.
//
//   byte 0     width w = byte % 66 - 1, so -1 .. 64 (w < 1 decodes one row)
//   bytes 1-2  pixel count n = (little-endian 16-bit value) % 4097, so 0 .. 4096
//   byte 3     cut: a prefix of stream_count * cut / 255 bytes is decoded too
//   bytes 4-   the stream
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz_unpack {

constexpr std::size_t kPrefixBytes = 4;
constexpr std::int64_t kLargestWidth = 64;
constexpr std::int64_t kLargestCount = 4096;
// The output's content before decoding, in the first decode of every input.
constexpr std::uint16_t kSentinel = 0xA5C3;

struct Input {
  std::int64_t w = 0;
  std::int64_t n = 0;
  int cut = 0;
  const std::uint8_t* stream = nullptr;
  std::int64_t stream_count = 0;
};

// False when the input is too short to hold the leading bytes.
inline bool read_input(const std::uint8_t* data, std::size_t size, Input* in) {
  if (size < kPrefixBytes) return false;
  in->w = static_cast<std::int64_t>(data[0] % (kLargestWidth + 2)) - 1;
  in->n = static_cast<std::int64_t>(data[1] | data[2] << 8) % (kLargestCount + 1);
  in->cut = data[3];
  in->stream = data + kPrefixBytes;
  in->stream_count = static_cast<std::int64_t>(size - kPrefixBytes);
  return true;
}

// The input that read_input turns into (w, n, cut, stream); w in -1..64, n in 0..4096.
inline std::vector<std::uint8_t> make_input(std::int64_t w, std::int64_t n, int cut,
                                            const std::vector<std::uint8_t>& stream) {
  std::vector<std::uint8_t> bytes = {
      static_cast<std::uint8_t>(w + 1), static_cast<std::uint8_t>(n & 0xFF),
      static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(cut)};
  bytes.insert(bytes.end(), stream.begin(), stream.end());
  return bytes;
}

}  // namespace fuzz_unpack
