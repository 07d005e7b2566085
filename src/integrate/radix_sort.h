// Ascending, stable sorts by 64-bit keys in linear time: of doubles by their
// bit patterns (the median's per-bin sort), and of any items by a key each
// item gives (the reduction engine's one sort of pixels by angle).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

// The bit pattern of x as an unsigned number that orders like the value: a
// negative value has all bits flipped, a positive one only its sign bit.
// -0 comes just before +0; NaNs go to an end by their sign.
inline std::uint64_t ordered_bits(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const std::uint64_t sign = std::uint64_t{1} << 63;
  return (bits & sign) != 0 ? ~bits : bits | sign;
}

// The double whose ordered_bits are bits.
inline double from_ordered_bits(std::uint64_t bits) {
  const std::uint64_t sign = std::uint64_t{1} << 63;
  bits = (bits & sign) != 0 ? bits & ~sign : ~bits;
  double x;
  std::memcpy(&x, &bits, sizeof x);
  return x;
}

// Sorts data[0 .. n-1] by order_key(item), ascending; items with equal keys
// keep their order. scratch must hold n items. Least significant byte first:
// one counting pass for all eight bytes, then one stable scatter for every
// byte in which the keys differ.
template <class Item, class OrderKey>
void radix_sort_by_key(Item* data, Item* scratch, std::size_t n, OrderKey order_key) {
  constexpr int kDigits = 8;
  constexpr int kBuckets = 256;
  auto digit = [&](const Item& item, int d) -> unsigned {
    return (order_key(item) >> (8 * d)) & (kBuckets - 1);
  };
  if (n < 2) return;
  static_assert(sizeof(std::size_t) >= 4, "bucket positions need 32 bits at least");
  std::size_t start[kDigits][kBuckets] = {};
  for (std::size_t i = 0; i < n; ++i) {
    for (int d = 0; d < kDigits; ++d) ++start[d][digit(data[i], d)];
  }

  Item* from = data;
  Item* to = scratch;
  for (int d = 0; d < kDigits; ++d) {
    std::size_t* bucket = start[d];
    if (bucket[digit(from[0], d)] == n) continue;  // all share this digit
    std::size_t position = 0;
    for (int b = 0; b < kBuckets; ++b) {
      const std::size_t size = bucket[b];
      bucket[b] = position;
      position += size;
    }
    for (std::size_t i = 0; i < n; ++i) to[bucket[digit(from[i], d)]++] = from[i];
    std::swap(from, to);
  }
  if (from != data) std::memcpy(static_cast<void*>(data), from, n * sizeof(Item));
}

// Sorts data[0 .. n-1] ascending; scratch must hold n doubles. The order is
// that of the IEEE values with -0 before +0; NaNs go to an end by their sign.
void radix_sort(double* data, double* scratch, std::size_t n);
