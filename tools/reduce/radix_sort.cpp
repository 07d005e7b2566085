#include "reduce/radix_sort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Pairs per bucket of the pass through memory: a bucket and its work arrays
// then fit in the second-level cache.
constexpr std::size_t kBucketEntries = 8192;
// Each bucket is a write stream of the pass through memory; more streams
// than this cost more there than smaller buckets save in cache.
constexpr std::size_t kMostBuckets = 1024;
// Cells per pair of a bucket's own pass: few cells then hold two pairs.
constexpr std::size_t kCellsPerEntry = 2;
// Moves per pair that the insertion sort of a bucket may make before a merge
// sort takes over, for keys bunched closer than the cells resolve.
constexpr std::size_t kMovesPerEntry = 8;
constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
constexpr std::uint64_t kNanKey = std::numeric_limits<std::uint64_t>::max();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::uint32_t load_value(const unsigned char* values, std::size_t slot) {
  std::uint32_t v;
  std::memcpy(&v, values + slot * sizeof v, sizeof v);
  return v;
}
void store_double(unsigned char* values, std::size_t i, double v) {
  std::memcpy(values + i * sizeof v, &v, sizeof v);
}

// order_key of a key known not to be NaN.
std::uint64_t number_key(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return (u & kSign) ? ~u : (u | kSign);
}

// Puts the pairs in order, stably; false when they are too far from order
// for insertion to be quick.
bool insertion_sort(std::uint64_t* keys, std::uint32_t* values, std::size_t m) {
  std::size_t moves_left = kMovesPerEntry * m;
  for (std::size_t i = 1; i < m; ++i) {
    const std::uint64_t k = keys[i];
    if (!(keys[i - 1] > k)) continue;
    const std::uint32_t v = values[i];
    std::size_t j = i;
    do {
      keys[j] = keys[j - 1];
      values[j] = values[j - 1];
      --j;
    } while (j > 0 && keys[j - 1] > k);
    keys[j] = k;
    values[j] = v;
    if (i - j > moves_left) return false;
    moves_left -= i - j;
  }
  return true;
}

void merge_sort(std::uint64_t* keys, std::uint32_t* values, std::size_t m) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> pairs(m);
  for (std::size_t i = 0; i < m; ++i) pairs[i] = {keys[i], values[i]};
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < m; ++i) {
    keys[i] = pairs[i].first;
    values[i] = pairs[i].second;
  }
}

}  // namespace

std::uint64_t order_key(double v) {
  return v != v ? kNanKey : number_key(v);
}

double from_order_key(std::uint64_t key) {
  const std::uint64_t u = (key & kSign) ? (key & ~kSign) : ~key;
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

KeyRange finite_range(const double* keys, std::size_t n) {
  // Four of each, so that neighbouring comparisons overlap; a NaN compares
  // false and is passed over.
  double lo[4] = {kInf, kInf, kInf, kInf}, hi[4] = {-kInf, -kInf, -kInf, -kInf};
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    for (int j = 0; j < 4; ++j) {
      const double k = keys[i + j];
      lo[j] = k < lo[j] ? k : lo[j];
      hi[j] = k > hi[j] ? k : hi[j];
    }
  }
  for (; i < n; ++i) {
    lo[0] = keys[i] < lo[0] ? keys[i] : lo[0];
    hi[0] = keys[i] > hi[0] ? keys[i] : hi[0];
  }
  KeyRange r{std::min(std::min(lo[0], lo[1]), std::min(lo[2], lo[3])),
             std::max(std::max(hi[0], hi[1]), std::max(hi[2], hi[3]))};
  if (r.lo > -kInf && r.hi < kInf) return r;
  r = {kInf, -kInf};
  for (i = 0; i < n; ++i) {
    if (std::isfinite(keys[i])) {
      r.lo = std::min(r.lo, keys[i]);
      r.hi = std::max(r.hi, keys[i]);
    }
  }
  return r;
}

KeyDigit::KeyDigit(const KeyRange& range, std::size_t digits)
    : last_(static_cast<double>(digits - 1)), nan_(digits) {
  if (range.lo <= range.hi) {
    lo_ = range.lo;
    // Infinite for equal ends: the keys there meet 0 * inf = NaN, digit 0,
    // the others the end digits. 0 when the span overflows: digit 0.
    scale_ = static_cast<double>(digits) / (range.hi - range.lo);
  }
}

RadixSort::RadixSort(const KeyRange& range, std::size_t most_keys)
    : buckets_(std::clamp<std::size_t>(most_keys / kBucketEntries, 1, kMostBuckets)),
      digit_(range, buckets_),
      start_(buckets_ + 2, 0) {
  if (most_keys > std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("RadixSort: more than 2^32 - 1 keys");
  }
}

RadixSort::Placer RadixSort::placer(double* sorted_keys, void* values) {
  for (std::size_t b = 1; b < start_.size(); ++b) start_[b] += start_[b - 1];
  n_ = start_.back();
  next_.assign(start_.begin(), start_.end() - 1);
  sorted_keys_ = sorted_keys;
  values_ = static_cast<unsigned char*>(values);
  return Placer(digit_, next_.data(), start_.data(), sorted_keys,
                reinterpret_cast<std::uint32_t*>(values_));
}

void RadixSort::finish(unsigned threads) {
  if (threads == 0) {
    threads = n_ >= kThreadedKeys && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
  }
  if (threads < 2) {
    sort_buckets(0, buckets_, work_);
  } else {
    // Two runs of buckets with about as many pairs each. A bucket's pairs
    // and the memory its sort writes lie in its own share of the arrays, so
    // the threads share nothing they write.
    const std::size_t half = start_[buckets_] / 2;
    const std::size_t split = static_cast<std::size_t>(
        std::upper_bound(start_.begin(), start_.begin() + buckets_ + 1, half) - start_.begin() - 1);
    Work second_work;
    std::exception_ptr second_error;
    std::thread second;
    try {
      second = std::thread([&] {
        try {
          sort_buckets(split, buckets_, second_work);
        } catch (...) {
          second_error = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      sort_buckets(split, buckets_, work_);  // no thread to be had: sort here
    }
    std::exception_ptr first_error;
    try {
      sort_buckets(0, split, work_);
    } catch (...) {
      first_error = std::current_exception();
    }
    if (second.joinable()) second.join();
    if (first_error) std::rethrow_exception(first_error);
    if (second_error) std::rethrow_exception(second_error);
  }
  // The NaN keys stay as placed. Downwards, each value's double covers only
  // 32-bit slots already read.
  const std::size_t s = start_[buckets_];
  for (std::size_t i = n_; i-- > s;) store_double(values_, i, load_value(values_, s + i));
}

void RadixSort::sort_buckets(std::size_t from, std::size_t to, Work& work) {
  for (std::size_t b = from; b < to; ++b) {
    if (start_[b + 1] > start_[b]) sort_bucket(b, work);
  }
}

// A counting pass over fine cells of the bucket's share of the range, in
// cache, leaves only pairs that share a cell out of order.
void RadixSort::sort_bucket(std::size_t b, Work& work) {
  const std::size_t s = start_[b], m = start_[b + 1] - s;
  double* keys = sorted_keys_ + s;
  const std::size_t cells = kCellsPerEntry * m;
  const KeyDigit digit = digit_;
  const double first = static_cast<double>(b), per = static_cast<double>(cells), last = per - 1;
  auto cell = [&](double key) -> std::size_t {
    const double y = (digit.position(key) - first) * per;
    if (y >= last) return cells - 1;
    return y > 0 ? static_cast<std::size_t>(y) : 0;
  };
  std::vector<std::uint32_t>& end = work.cell_end;
  end.assign(cells + 1, 0);
  for (std::size_t i = 0; i < m; ++i) ++end[cell(keys[i]) + 1];
  for (std::size_t c = 1; c <= cells; ++c) end[c] += end[c - 1];

  work.keys.resize(m);
  work.values.resize(m);
  std::uint64_t* k = work.keys.data();
  std::uint32_t* v = work.values.data();
  const unsigned char* value_in = values_ + s * sizeof(double);
  for (std::size_t i = 0; i < m; ++i) {
    const std::uint32_t to = end[cell(keys[i])]++;
    k[to] = number_key(keys[i]);
    v[to] = load_value(value_in, i);
  }
  if (!insertion_sort(k, v, m)) merge_sort(k, v, m);
  // Every value of the bucket is read: its doubles may now cover them.
  unsigned char* value_out = values_ + s * sizeof(double);
  for (std::size_t i = 0; i < m; ++i) {
    keys[i] = from_order_key(k[i]);
    store_double(value_out, i, v[i]);
  }
}

void radix_sort_pairs(const double* keys, const std::uint32_t* values, std::size_t n,
                      double* sorted_keys, double* sorted_values, unsigned threads) {
  RadixSort sort(finite_range(keys, n), n);
  RadixSort::Counter count = sort.counter();
  for (std::size_t i = 0; i < n; ++i) count(keys[i]);
  RadixSort::Placer place = sort.placer(sorted_keys, sorted_values);
  for (std::size_t i = 0; i < n; ++i) place(keys[i], values[i]);
  sort.finish(threads);
}
