// Binary words written in either byte order, as detector files hold them.
#pragma once

#include <cstdint>

namespace vokip {

enum class ByteOrder { little, big };

// The unsigned word of `bytes` bytes (1 to 8) at p, written in the order.
inline std::uint64_t read_word(const std::uint8_t* p, int bytes, ByteOrder order) {
  std::uint64_t v = 0;
  for (int k = 0; k < bytes; ++k) {
    const int from = order == ByteOrder::little ? bytes - 1 - k : k;
    v = (v << 8) | p[from];
  }
  return v;
}

inline std::uint32_t read_u32(const std::uint8_t* p, ByteOrder order) {
  return static_cast<std::uint32_t>(read_word(p, 4, order));
}

}  // namespace vokip
