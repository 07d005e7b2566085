// Sorting pixels by angle: a stable LSD radix sort of 64-bit keys carrying a
// 32-bit value each, and the map from doubles to keys that sort like them.
#pragma once

#include <cstdint>
#include <vector>

// Unsigned keys in the order of the doubles: negatives before positives,
// -0 just before +0, and every NaN last.
std::uint64_t order_key(double v);
// The double of a key (every NaN comes back as a NaN).
double from_order_key(std::uint64_t key);

// Sorts keys[0, n) ascending, moving values with them; equal keys keep their
// order. The scratch arrays hold n entries each and may be any memory the
// caller no longer needs. Returns true when the sorted pairs ended in the
// scratch arrays, false when in keys and values. Digits on which all keys
// agree cost no pass.
bool radix_sort_pairs(std::uint64_t* keys, std::uint32_t* values, std::size_t n,
                      std::uint64_t* key_scratch, std::uint32_t* value_scratch);

// The same, sorted in place in the vectors.
void radix_sort_pairs(std::vector<std::uint64_t>* keys, std::vector<std::uint32_t>* values);
