#include "reduce/radix_sort.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "reduce/parallel_parts.h"

namespace {

// Pairs per bucket of the pass through memory: a bucket and its work arrays
// then fit in the second-level cache.
constexpr std::size_t kBucketEntries = 8192;
// Each bucket is a write stream of the pass through memory; more streams
// than this cost more there than smaller buckets save in cache.
constexpr std::size_t kMostBuckets = 1024;
// Cells per pair of a bucket's own pass: few cells then hold two pairs.
constexpr std::size_t kCellsPerEntry = 2;
constexpr std::size_t kMostCells = std::size_t{1} << 30;
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

KeyRange finite_range(const double* keys, std::size_t n, unsigned parts) {
  std::vector<KeyRange> ranges(parts);
  run_parts(parts, [&](unsigned p) {
    const PartRange r = part_range(n, p, parts);
    ranges[p] = finite_range(keys + r.begin, r.end - r.begin);
  });
  KeyRange range{kInf, -kInf};
  for (const KeyRange& r : ranges) range = {std::min(range.lo, r.lo), std::max(range.hi, r.hi)};
  return range;
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

RadixSort::RadixSort(const KeyRange& range, std::size_t most_keys, unsigned parts)
    : buckets_(std::clamp<std::size_t>(most_keys / kBucketEntries, 1, kMostBuckets)),
      digit_(range, buckets_),
      parts_(std::max(parts, 1u)),
      start_(buckets_ + 2, 0) {
  if (most_keys > std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("RadixSort: more than 2^32 - 1 keys");
  }
  for (Part& p : parts_) p.counts.assign(buckets_ + 1, 0);
}

void RadixSort::place_into(double* sorted_keys, void* values, std::size_t room) {
  for (Part& p : parts_) p.next.resize(buckets_ + 1);
  for (std::size_t b = 0; b <= buckets_; ++b) {
    std::uint32_t at = start_[b];
    for (Part& p : parts_) {
      p.next[b] = at;
      at += p.counts[b];
    }
    start_[b + 1] = at;
  }
  n_ = start_.back();
  if (n_ != room)
    throw std::logic_error("RadixSort: the pairs counted do not fill the memory given");
  sorted_keys_ = sorted_keys;
  values_ = static_cast<unsigned char*>(values);
}

RadixSort::Placer RadixSort::placer(unsigned part) {
  return Placer(digit_, parts_.at(part).next.data(), start_.data(), sorted_keys_,
                reinterpret_cast<std::uint32_t*>(values_));
}

void RadixSort::finish(unsigned threads) {
  if (threads == 0) threads = parts_for(n_);
  // Runs of buckets with about as many pairs each. A bucket's pairs and the
  // memory its sort writes lie in its own share of the arrays, so the
  // threads share nothing they write.
  std::vector<std::size_t> run_start(threads + 1, buckets_);
  for (unsigned t = 0; t < threads; ++t) {
    const std::size_t pairs_before = part_range(start_[buckets_], t, threads).begin;
    run_start[t] = static_cast<std::size_t>(
        std::upper_bound(start_.begin(), start_.begin() + buckets_ + 1, pairs_before) -
        start_.begin() - 1);
  }
  run_start[0] = 0;
  std::vector<Work> work(threads);
  run_parts(threads, [&](unsigned t) { sort_buckets(run_start[t], run_start[t + 1], work[t]); });
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
  // 32-bit cell numbers let the cells be found for many keys at once.
  const std::size_t cells = std::min(kCellsPerEntry * m, kMostCells);
  const KeyDigit digit = digit_;
  const double first = static_cast<double>(b), per = static_cast<double>(cells), last = per - 1;
  work.cells.resize(m);
  std::uint32_t* cell = work.cells.data();
  for (std::size_t i = 0; i < m; ++i) {
    const double y = (digit.position(keys[i]) - first) * per;
    const double clamped = y >= last ? last : (y > 0 ? y : 0);  // a NaN position: 0
    cell[i] = static_cast<std::uint32_t>(static_cast<std::int32_t>(clamped));
  }
  std::vector<std::uint32_t>& end = work.cell_end;
  end.assign(cells + 1, 0);
  for (std::size_t i = 0; i < m; ++i) ++end[cell[i] + 1];
  for (std::size_t c = 1; c <= cells; ++c) end[c] += end[c - 1];

  work.keys.resize(m);
  work.values.resize(m);
  std::uint64_t* k = work.keys.data();
  std::uint32_t* v = work.values.data();
  const unsigned char* value_in = values_ + s * sizeof(double);
  for (std::size_t i = 0; i < m; ++i) {
    const std::uint32_t to = end[cell[i]]++;
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
  if (threads == 0) threads = parts_for(n);
  RadixSort sort(finite_range(keys, n, threads), n, threads);
  run_parts(threads, [&](unsigned p) {
    const PartRange r = part_range(n, p, threads);
    RadixSort::Counter count = sort.counter(p);
    for (std::size_t i = r.begin; i < r.end; ++i) count(keys[i]);
  });
  sort.place_into(sorted_keys, sorted_values, n);
  run_parts(threads, [&](unsigned p) {
    const PartRange r = part_range(n, p, threads);
    RadixSort::Placer place = sort.placer(p);
    for (std::size_t i = r.begin; i < r.end; ++i) place(keys[i], values[i]);
  });
  sort.finish(threads);
}
