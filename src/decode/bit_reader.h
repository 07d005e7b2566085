// Reads a byte stream as one continuous run of bits, least significant bit of
// each byte first. The caller declares the bits it is about to take (reserve);
// only bytes holding reserved bits are ever fetched, so once the reserved bits
// are taken, b bits in all, the reader has fetched exactly ceil(b / 8) bytes,
// and never a byte at or past the end of the stream.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

class BitReader {
 public:
  BitReader(const std::uint8_t* bytes, std::int64_t count)
      : bytes_(bytes), count_(std::max<std::int64_t>(count, 0)) {}

  std::int64_t bits_taken() const { return 8 * fetched_ - valid_; }
  std::int64_t bits_left() const { return 8 * count_ - bits_taken(); }
  std::int64_t bytes_fetched() const { return fetched_; }

  // Allows fetching the bytes that hold the next `bits` bits (at most bits_left()).
  void reserve(std::int64_t bits) {
    const std::int64_t end_bit = bits_taken() + bits;
    limit_ = std::max(limit_, std::min(count_, (end_bit + 7) / 8));
  }

  // Takes the next `width` bits (1 to 32), which must lie within the reserved range.
  std::uint32_t take(int width) {
    if (valid_ < width) refill();
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    const std::uint32_t bits = static_cast<std::uint32_t>(window_ & mask);
    window_ >>= width;
    valid_ -= width;
    return bits;
  }

 private:
  // Moves whole bytes into the window until it holds at least 56 bits or the
  // reserved bytes are all in. Bits of the window above the valid ones are
  // either 0 or the true bits of the bytes that follow, so OR-ing a byte in
  // again at its place changes nothing.
  void refill() {
    if (limit_ - fetched_ >= 8) {
      window_ |= load_little_endian(bytes_ + fetched_) << valid_;
      const int whole_bytes = (63 - valid_) / 8;
      fetched_ += whole_bytes;
      valid_ += 8 * whole_bytes;
      return;
    }
    while (valid_ <= 56 && fetched_ < limit_) {
      window_ |= std::uint64_t{bytes_[fetched_]} << valid_;
      ++fetched_;
      valid_ += 8;
    }
  }

  static std::uint64_t load_little_endian(const std::uint8_t* p) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
  }

  const std::uint8_t* bytes_;
  std::int64_t count_;
  std::int64_t limit_ = 0;    // bytes [0, limit_) may be fetched
  std::int64_t fetched_ = 0;  // bytes moved into the window so far
  std::uint64_t window_ = 0;  // next bit in bit 0
  int valid_ = 0;             // bits of the window not yet taken
};
