// Builds packed streams by hand in tests: headers and fields are laid down
// one bit at a time, least significant bit first, then gathered into bytes.
#pragma once

#include <cstdint>
#include <vector>

class StreamWriter {
 public:
  // A block header: run code in bits 0..2, width code in bits 3..5.
  StreamWriter& header(int run_code, int width_code) {
    return field(static_cast<std::uint32_t>(run_code | width_code << 3), 6);
  }
  // The low `width` bits of value.
  StreamWriter& field(std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bits_.push_back((value >> i) & 1u);
    return *this;
  }
  std::size_t bit_count() const { return bits_.size(); }
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out((bits_.size() + 7) / 8, 0);
    for (std::size_t i = 0; i < bits_.size(); ++i) {
      if (bits_[i]) out[i / 8] = static_cast<std::uint8_t>(out[i / 8] | 1u << (i % 8));
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};
