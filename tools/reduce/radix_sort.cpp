#include "reduce/radix_sort.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace {

// The passes sort by a prefix: the top kPrefixBits bits of the key's offset
// from the smallest key. On angles that is about 10^-7 of a degree, so runs
// that share a prefix are short; they are put in order afterwards.
constexpr int kDigitBits = 8;
constexpr int kPasses = 4;
constexpr int kPrefixBits = kDigitBits * kPasses;
constexpr std::uint64_t kBuckets = std::uint64_t{1} << kDigitBits;
constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
constexpr std::uint64_t kNanKey = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kLongestInsertionRun = 48;

std::uint64_t bits_of(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

int bit_width(std::uint64_t v) {
  int w = 0;
  while (v) {
    ++w;
    v >>= 1;
  }
  return w;
}

class Prefix {
 public:
  Prefix(const std::uint64_t* keys, std::size_t n) {
    std::uint64_t low = kNanKey, high = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t k = keys[i];
      low = std::min(low, k);
      if (k != kNanKey) high = std::max(high, k);
    }
    low_ = low;
    const std::uint64_t span = high > low ? high - low : 0;
    shift_ = std::max(0, bit_width(span) - kPrefixBits);
  }
  // Keys above the largest number (the NaN key) share the top prefix.
  std::uint64_t operator()(std::uint64_t k) const {
    return std::min((k - low_) >> shift_, (std::uint64_t{1} << kPrefixBits) - 1);
  }

 private:
  std::uint64_t low_ = 0;
  int shift_ = 0;
};

// Sorts each run of keys that share their prefix by the whole key, stably:
// insertion for short runs, a merge sort for long ones.
void order_runs(const Prefix& prefix, std::uint64_t* keys, std::uint32_t* values, std::size_t n) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> run;
  for (std::size_t first = 0; first < n;) {
    const std::uint64_t p = prefix(keys[first]);
    std::size_t end = first + 1;
    while (end < n && prefix(keys[end]) == p) ++end;
    if (end - first > kLongestInsertionRun) {
      run.clear();
      for (std::size_t i = first; i < end; ++i) run.emplace_back(keys[i], values[i]);
      std::stable_sort(run.begin(), run.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (std::size_t i = first; i < end; ++i) {
        keys[i] = run[i - first].first;
        values[i] = run[i - first].second;
      }
    } else {
      for (std::size_t i = first + 1; i < end; ++i) {
        const std::uint64_t k = keys[i];
        const std::uint32_t v = values[i];
        std::size_t j = i;
        for (; j > first && keys[j - 1] > k; --j) {
          keys[j] = keys[j - 1];
          values[j] = values[j - 1];
        }
        keys[j] = k;
        values[j] = v;
      }
    }
    first = end;
  }
}

}  // namespace

std::uint64_t order_key(double v) {
  if (v != v) return kNanKey;
  const std::uint64_t u = bits_of(v);
  return (u & kSign) ? ~u : (u | kSign);
}

double from_order_key(std::uint64_t key) {
  const std::uint64_t u = (key & kSign) ? (key & ~kSign) : ~key;
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

bool radix_sort_pairs(std::uint64_t* keys, std::uint32_t* values, std::size_t n,
                      std::uint64_t* key_scratch, std::uint32_t* value_scratch) {
  if (n > std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("radix_sort_pairs: more than 2^32 - 1 keys");
  }
  if (n < 2) return false;

  const Prefix prefix(keys, n);
  std::vector<std::array<std::uint32_t, kBuckets>> counts(kPasses);
  for (auto& c : counts) c.fill(0);
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint64_t p = prefix(keys[i]);
    for (int pass = 0; pass < kPasses; ++pass) {
      ++counts[pass][(p >> (pass * kDigitBits)) & (kBuckets - 1)];
    }
  }

  std::uint64_t* key_from = keys;
  std::uint64_t* key_to = key_scratch;
  std::uint32_t* value_from = values;
  std::uint32_t* value_to = value_scratch;
  bool in_scratch = false;
  for (int pass = 0; pass < kPasses; ++pass) {
    const int shift = pass * kDigitBits;
    const std::array<std::uint32_t, kBuckets>& count = counts[pass];
    bool all_same = false;
    for (std::uint32_t c : count) all_same = all_same || c == n;
    if (all_same) continue;

    std::array<std::uint32_t, kBuckets> next{};
    std::uint32_t sum = 0;
    for (std::uint64_t b = 0; b < kBuckets; ++b) {
      next[b] = sum;
      sum += count[b];
    }
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint64_t k = key_from[i];
      const std::uint32_t to = next[(prefix(k) >> shift) & (kBuckets - 1)]++;
      key_to[to] = k;
      value_to[to] = value_from[i];
    }
    std::swap(key_from, key_to);
    std::swap(value_from, value_to);
    in_scratch = !in_scratch;
  }
  order_runs(prefix, key_from, value_from, n);
  return in_scratch;
}

void radix_sort_pairs(std::vector<std::uint64_t>* keys, std::vector<std::uint32_t>* values) {
  const std::size_t n = keys->size();
  if (values->size() != n) throw std::invalid_argument("radix_sort_pairs: sizes differ");
  std::vector<std::uint64_t> key_scratch(n);
  std::vector<std::uint32_t> value_scratch(n);
  if (radix_sort_pairs(keys->data(), values->data(), n, key_scratch.data(), value_scratch.data())) {
    keys->swap(key_scratch);
    values->swap(value_scratch);
  }
}
