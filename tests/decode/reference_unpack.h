// A second decoder for differential tests, written the other way round: the
// bit reader keeps a 32-bit window and one spill byte whose bits are moved in
// only when a header or field needs them, and every pixel chooses its
// predictor by index. Like the decoder under test it stops at the first
// header or field that the stream cannot complete.
#pragma once

#include <cstdint>

namespace reference {

struct Result {
  std::int64_t pixels;
  std::int64_t bytes_fetched;
};

class SpillReader {
 public:
  SpillReader(const std::uint8_t* bytes, std::int64_t count) : bytes_(bytes), count_(count) {}

  // Fills the window to at least k bits; false when the stream runs out.
  bool need(int k, bool for_header) {
    while (valid_ < k) {
      if (spill_bits_ == 0) {
        if (next_ >= count_) return false;
        spill_ = bytes_[next_++];
        spill_bits_ = 8;
        continue;
      }
      int move = spill_bits_;
      if (!for_header && 32 - valid_ <= spill_bits_) move = 32 - valid_;
      const std::uint32_t low = spill_ & ((1u << move) - 1u);
      window_ |= low << valid_;
      valid_ += move;
      spill_ = static_cast<std::uint8_t>(spill_ >> move);
      spill_bits_ -= move;
    }
    return true;
  }

  std::uint32_t take(int k) {
    std::uint32_t value;
    if (k == 32) {
      value = window_;
      window_ = 0;
    } else {
      value = window_ & ((1u << k) - 1u);
      window_ >>= k;
    }
    valid_ -= k;
    return value;
  }

  std::int64_t fetched() const { return next_; }

 private:
  const std::uint8_t* bytes_;
  std::int64_t count_;
  std::uint32_t window_ = 0;
  int valid_ = 0;
  std::uint8_t spill_ = 0;
  int spill_bits_ = 0;
  std::int64_t next_ = 0;
};

inline Result unpack(const std::uint8_t* stream, std::int64_t count, std::uint16_t* img,
                     std::int64_t n, std::int64_t w) {
  static const int widths[8] = {0, 4, 5, 6, 7, 8, 16, 32};
  SpillReader reader(stream, count);
  auto s16 = [&](std::int64_t i) {
    return static_cast<std::int32_t>(static_cast<std::int16_t>(img[i]));
  };
  std::int64_t p = 0;
  while (p < n) {
    if (!reader.need(6, true)) break;
    const std::uint32_t header = reader.take(6);
    const int values = 1 << (header & 7);
    const int width = widths[(header >> 3) & 7];
    bool ended = false;
    for (int k = 0; k < values && p < n; ++k) {
      std::int32_t d = 0;
      if (width > 0) {
        if (!reader.need(width, false)) {
          ended = true;
          break;
        }
        std::uint32_t field = reader.take(width);
        if (width < 32 && (field >> (width - 1)) & 1u) field |= ~((1u << width) - 1u);
        d = static_cast<std::int32_t>(field);
      }
      std::int32_t prediction;
      if (p == 0) {
        prediction = 0;
      } else if (p <= w) {
        prediction = s16(p - 1);
      } else {
        prediction = (s16(p - 1) + s16(p - w + 1) + s16(p - w) + s16(p - w - 1) + 2) / 4;
      }
      img[p] = static_cast<std::uint16_t>(static_cast<std::uint32_t>(prediction) +
                                          static_cast<std::uint32_t>(d));
      ++p;
    }
    if (ended) break;
  }
  return {p, reader.fetched()};
}

}  // namespace reference
