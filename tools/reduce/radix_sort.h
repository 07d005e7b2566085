// Sorting pixels by angle: a stable MSD radix sort of double keys carrying a
// 32-bit value each. Its digits are a key's position within a range, so one
// pass through memory and one in cache put nearly every key in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Unsigned keys in the order the sort gives the doubles: negatives before
// positives, -0 just before +0, and every NaN last.
std::uint64_t order_key(double v);
// The double of a key (every NaN comes back as a NaN).
double from_order_key(std::uint64_t key);

// The smallest and largest finite key; lo > hi when there is none.
struct KeyRange {
  double lo, hi;
};
KeyRange finite_range(const double* keys, std::size_t n);
// The same found by parts threads, each over a run of the keys.
KeyRange finite_range(const double* keys, std::size_t n, unsigned parts);

// The first digit: a key's position in a range, truncated and clamped to
// 0 to last; NaN gets last + 1. Each step (subtract, multiply, truncate,
// clamp) never decreases as the key grows, so digits come in key order.
class KeyDigit {
 public:
  KeyDigit(const KeyRange& range, std::size_t digits);
  std::size_t operator()(double key) const {
    if (key != key) return nan_;
    const double y = position(key);
    if (y >= last_) return nan_ - 1;
    return y > 0 ? static_cast<std::size_t>(y) : 0;  // a NaN position: 0
  }
  // Digit d holds the keys whose position lies in [d, d + 1), the end
  // digits also those beyond.
  double position(double key) const { return (key - lo_) * scale_; }

 private:
  double lo_ = 0, scale_ = 0, last_;
  std::size_t nan_;
};

// Sorts pairs that the caller produces twice in the same order: each key
// once to count it, then each pair to place it. So the pairs need not be
// stored before the sort: a caller that selects them from larger arrays
// selects them again instead. The sorted keys go to an array of their own,
// the values to one of doubles; the pairs of a bucket are placed in the
// bucket's own share of these, its 32-bit values in the first half of the
// share of the doubles, so sorting a bucket rewrites memory it has just read.
//
// The pairs may come in parts, each counted and placed by its own counter
// and placer, on threads of their own: part p's pairs come after those of
// parts before it, as if one caller had produced them all in part order.
class RadixSort {
 public:
  // Any range sorts correctly; the keys' own (finite_range) sorts fastest.
  // At most most_keys keys, under 2^32, will be counted.
  RadixSort(const KeyRange& range, std::size_t most_keys, unsigned parts = 1);

  // Counts a key. A copy, kept in a local while counting, lets the compiler
  // keep its fields in registers.
  class Counter {
   public:
    void operator()(double key) { ++counts_[digit_(key)]; }
    // Takes back a key counted before.
    void remove(double key) { --counts_[digit_(key)]; }

   private:
    friend class RadixSort;
    Counter(const KeyDigit& digit, std::uint32_t* counts) : digit_(digit), counts_(counts) {}
    KeyDigit digit_;
    std::uint32_t* counts_;
  };
  Counter counter(unsigned part = 0) { return Counter(digit_, parts_.at(part).counts.data()); }
  unsigned parts() const { return static_cast<unsigned>(parts_.size()); }

  // Places a pair, in the order its key was counted.
  class Placer {
   public:
    void operator()(double key, std::uint32_t value) {
      const std::size_t b = digit_(key);
      const std::uint32_t to = next_[b]++;
      keys_[to] = key;
      values_[std::size_t{to} + start_[b]] = value;  // slot 2 start + k for bucket b's k-th
    }

   private:
    friend class RadixSort;
    Placer(const KeyDigit& digit, std::uint32_t* next, const std::uint32_t* start, double* keys,
           std::uint32_t* values)
        : digit_(digit), next_(next), start_(start), keys_(keys), values_(values) {}
    KeyDigit digit_;
    std::uint32_t* next_;
    const std::uint32_t* start_;
    double* keys_;
    std::uint32_t* values_;
  };
  // After all keys of every part are counted: the pairs go to sorted_keys
  // and values, each memory for `room` doubles, which must be as many as
  // keys were counted (std::logic_error otherwise, before anything is
  // written).
  void place_into(double* sorted_keys, void* values, std::size_t room);
  // Then a placer for each part.
  Placer placer(unsigned part = 0);

  // After all pairs are placed: sorts them, ascending in order_key's order,
  // equal keys in the order they came, NaN keys last as they were; values
  // then holds the values as doubles. threads is how many threads sort the
  // buckets, each a run of buckets of its own; 0 chooses parts_for(keys).
  // Every choice gives the same bytes.
  void finish(unsigned threads = 0);

 private:
  // Work arrays for one bucket, kept from bucket to bucket; one per thread.
  struct Work {
    std::vector<std::uint32_t> cells;  // each pair's cell
    std::vector<std::uint32_t> cell_end;
    std::vector<std::uint64_t> keys;
    std::vector<std::uint32_t> values;
  };
  struct Part {
    std::vector<std::uint32_t> counts;  // the part's count of each bucket; NaN's last
    std::vector<std::uint32_t> next;    // where its next pair of each bucket goes
  };
  void sort_buckets(std::size_t from, std::size_t to, Work& work);
  void sort_bucket(std::size_t b, Work& work);

  std::size_t buckets_;
  KeyDigit digit_;
  std::vector<Part> parts_;
  // Bucket b's pairs go to [start_[b], start_[b + 1]); the last is NaN's.
  std::vector<std::uint32_t> start_;
  std::size_t n_ = 0;
  double* sorted_keys_ = nullptr;
  unsigned char* values_ = nullptr;
};

// Sorts the pairs (keys[i], values[i]), i < n, into sorted_keys and
// sorted_values: ascending in order_key's order, equal keys in input order,
// NaN keys last as they were. The inputs must not overlap the outputs.
// threads is how many threads count, place and sort: 0 chooses
// parts_for(n); every choice gives the same bytes.
void radix_sort_pairs(const double* keys, const std::uint32_t* values, std::size_t n,
                      double* sorted_keys, double* sorted_values, unsigned threads = 0);
