#include "integrate/radix_sort.h"

#include <cstdint>
#include <cstring>
#include <utility>

namespace {

constexpr int kDigits = 8;  // bytes of a double, least significant first
constexpr int kBuckets = 256;

// The bit pattern as an unsigned number that orders like the value: a
// negative value has all bits flipped, a positive one only its sign bit.
std::uint64_t ordered_bits(double x) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const std::uint64_t sign = std::uint64_t{1} << 63;
  return (bits & sign) != 0 ? ~bits : bits | sign;
}

unsigned digit(double x, int d) {
  return (ordered_bits(x) >> (8 * d)) & (kBuckets - 1);
}

}  // namespace

// Least significant digit first: one counting pass for all digits, then one
// stable scatter for every digit in which the values differ.
void radix_sort(double* data, double* scratch, std::size_t n) {
  if (n < 2) return;
  std::size_t start[kDigits][kBuckets] = {};
  for (std::size_t i = 0; i < n; ++i) {
    for (int d = 0; d < kDigits; ++d) ++start[d][digit(data[i], d)];
  }

  double* from = data;
  double* to = scratch;
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
  if (from != data) std::memcpy(data, from, n * sizeof(double));
}
