// The angle sort: keys that order like doubles, and a stable radix sort that
// agrees bit for bit with std::stable_sort on every kind of input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include "reduce/parallel_parts.h"
#include "reduce/radix_sort.h"

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kTiny = std::numeric_limits<double>::denorm_min();
const double kHuge = std::numeric_limits<double>::max();

std::uint64_t bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

double nan_with_payload(std::uint64_t payload, bool negative) {
  const std::uint64_t u = (negative ? std::uint64_t{1} << 63 : 0) | (std::uint64_t{0x7ff8} << 48) |
                          (payload & 0xffffffffffff);
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// Expected order: ascending by the double, -0 before +0, equal keys in input
// order, NaN last in input order.
std::vector<std::uint32_t> reference_order(const std::vector<double>& keys) {
  std::vector<std::uint32_t> order(keys.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    const double x = keys[a], y = keys[b];
    if (std::isnan(y)) return !std::isnan(x);
    if (std::isnan(x)) return false;
    if (x == 0 && y == 0) return std::signbit(x) && !std::signbit(y);
    return x < y;
  });
  return order;
}

struct Sorted {
  std::vector<double> keys, values;
};

// Value i is i + 1000, so a value that is never written (-1) cannot pass.
std::vector<std::uint32_t> input_values(std::size_t n) {
  std::vector<std::uint32_t> values(n);
  std::iota(values.begin(), values.end(), 1000u);
  return values;
}

Sorted sort_pairs(const std::vector<double>& keys, unsigned threads = 0) {
  const std::size_t n = keys.size();
  const std::vector<std::uint32_t> values = input_values(n);
  Sorted out{std::vector<double>(n, -1.0), std::vector<double>(n, -1.0)};
  radix_sort_pairs(keys.data(), values.data(), n, out.keys.data(), out.values.data(), threads);
  return out;
}

bool same_bytes(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

// The same through the class, with the given range for its buckets.
Sorted sort_pairs_in(const std::vector<double>& keys, const KeyRange& range) {
  const std::size_t n = keys.size();
  const std::vector<std::uint32_t> values = input_values(n);
  Sorted out{std::vector<double>(n, -1.0), std::vector<double>(n, -1.0)};
  RadixSort sort(range, n);
  RadixSort::Counter count = sort.counter();
  for (double k : keys) count(k);
  sort.place_into(out.keys.data(), out.values.data(), n);
  RadixSort::Placer place = sort.placer();
  for (std::size_t i = 0; i < n; ++i) place(keys[i], values[i]);
  sort.finish();
  return out;
}

void expect_like_reference(const std::vector<double>& input, const Sorted& sorted) {
  const std::vector<std::uint32_t> expected = reference_order(input);
  ASSERT_EQ(sorted.keys.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(sorted.values[i], expected[i] + 1000.0) << "value at " << i;
    ASSERT_EQ(bits(sorted.keys[i]), bits(input[expected[i]])) << "key at " << i;
  }
}

void expect_sorted_like_reference(const std::vector<double>& input) {
  expect_like_reference(input, sort_pairs(input));
}

TEST(OrderKey, OrdersLikeTheDoubles) {
  const std::vector<double> ascending = {
      -kInf, -1e300, -2.5, -1e-300, -0.0, 0.0, 1e-310, 1e-300, 0.5, 1.0, 1.0000000000000002,
      90.0,  1e300,  kInf};
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(order_key(ascending[i]), order_key(ascending[i + 1])) << ascending[i];
    EXPECT_EQ(bits(from_order_key(order_key(ascending[i]))), bits(ascending[i]));
  }
  EXPECT_GT(order_key(kNan), order_key(kInf));
  EXPECT_GT(order_key(-kNan), order_key(kInf));
  EXPECT_TRUE(std::isnan(from_order_key(order_key(kNan))));
}

TEST(FiniteRange, FindsTheEndsWhereverTheyLie) {
  std::vector<double> keys = {5.0, 6.0, 4.5, 7.0, 5.5, 6.5, kNan};  // not a multiple of four
  for (std::size_t at = 0; at < keys.size(); ++at) {
    std::vector<double> k = keys;
    k[at] = -3.0;
    k[(at + 3) % k.size()] = 9.0;
    const KeyRange r = finite_range(k.data(), k.size());
    EXPECT_EQ(r.lo, -3.0) << at;
    EXPECT_EQ(r.hi, 9.0) << at;
  }
}

TEST(FiniteRange, PassesOverNanAndInfinities) {
  const std::vector<double> keys = {kNan, 3.0, -kInf, -2.0, kInf, 7.5, kNan};
  const KeyRange r = finite_range(keys.data(), keys.size());
  EXPECT_EQ(r.lo, -2.0);
  EXPECT_EQ(r.hi, 7.5);
  const std::vector<double> none = {kNan, kInf, -kInf};
  const KeyRange empty = finite_range(none.data(), none.size());
  EXPECT_GT(empty.lo, empty.hi);
  const KeyRange nothing = finite_range(nullptr, 0);
  EXPECT_GT(nothing.lo, nothing.hi);
}

TEST(KeyDigit, NeverDecreasesAsTheKeyGrows) {
  std::vector<double> keys = {-kInf,       -kHuge, -1e300,    -3.0,   -kTiny, -0.0,
                              0.0,         kTiny,  2 * kTiny, 1e-300, 0.25,   1.0,
                              1.0 + 1e-15, 7.0,    89.9,      1e300,  kHuge,  kInf};
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> some(-100.0, 100.0);
  for (int i = 0; i < 2000; ++i) keys.push_back(some(random));
  std::sort(keys.begin(), keys.end());
  const std::vector<KeyRange> ranges = {{0.0, 90.0},  {-100.0, 100.0}, {1.0, 1.0},
                                        {0.0, kTiny}, {-kHuge, kHuge}, {5.0, 6.0},
                                        {kInf, -kInf}};
  for (const KeyRange& range : ranges) {
    for (std::size_t digits : {1, 2, 1000}) {
      const KeyDigit digit(range, digits);
      std::size_t previous = 0;
      for (double k : keys) {
        const std::size_t d = digit(k);
        ASSERT_LT(d, digits) << k;
        ASSERT_GE(d, previous) << "key " << k << " range " << range.lo << ".." << range.hi;
        previous = d;
      }
      EXPECT_EQ(digit(kNan), digits);
    }
  }
}

TEST(RadixSort, MatchesAStableSortOnAngles) {
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> angle(0.0, 60.0);
  std::vector<double> keys(200000);
  for (double& k : keys) k = angle(random);
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, MatchesAStableSortOnAnglesOfAnImage) {
  // Smooth in pixel order, with ties between pixels mirrored about the centre.
  std::vector<double> keys;
  for (int row = 0; row < 400; ++row) {
    for (int col = 0; col < 400; ++col) {
      const double r = std::hypot(col - 199.5, row - 150.0);
      keys.push_back(std::atan(r / 300.0) * 180 / std::acos(-1.0));
    }
  }
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, KeepsTiesInInputOrderAndPutsNanLast) {
  std::mt19937_64 random(5);
  std::uniform_int_distribution<int> pick(0, 11);
  const std::vector<double> few = {
      kNan, 3.0, -0.0, 0.0, 1e-20, -7.5, kInf, 3.0000000000000004, -kInf, 12.25, kTiny, -kTiny};
  std::vector<double> keys(50000);
  for (double& k : keys) k = few[pick(random)];
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, KeepsEveryNanAsItWas) {
  std::vector<double> keys;
  for (std::uint64_t p = 0; p < 40; ++p) {
    keys.push_back(nan_with_payload(p * 977, p % 3 == 0));
    keys.push_back(40.0 - static_cast<double>(p));
  }
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, SortsDenormalsAndSignedZeros) {
  std::mt19937_64 random(13);
  std::uniform_int_distribution<std::int64_t> steps(-50, 50);
  std::vector<double> keys(30000);
  for (double& k : keys) k = static_cast<double>(steps(random)) * kTiny;  // -0 never arises
  for (std::size_t i = 0; i < keys.size(); i += 7) keys[i] = -0.0;
  for (std::size_t i = 3; i < keys.size(); i += 11) keys[i] = 0.0;
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, SortsKeysThatDifferOnlyInTheLowestBits) {
  // All within a few ulps of 20 degrees, finer than any cell: one long run
  // that insertion cannot put in order quickly.
  std::mt19937_64 random(11);
  std::uniform_int_distribution<int> ulps(0, 5000);
  std::vector<double> keys(20000);
  for (double& k : keys) {
    k = 20.0;
    for (int u = ulps(random); u > 0; --u) k = std::nextafter(k, 100.0);
  }
  keys[17] = 0.001;  // and one far away, so the range is wide
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, SortsKeysBunchedFarFromTheRest) {
  // Nearly all keys in one bucket: its cells, over its share of the range,
  // are far wider than the keys' spread.
  std::mt19937_64 random(17);
  std::uniform_real_distribution<double> near(30.0, 30.0 + 1e-9);
  std::vector<double> keys(100000);
  for (double& k : keys) k = near(random);
  keys[5] = 0.0;
  keys[6] = 1e6;
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, HandlesTinyAndEqualInputs) {
  expect_sorted_like_reference({});
  expect_sorted_like_reference({4.0});
  expect_sorted_like_reference({kNan});
  expect_sorted_like_reference({2.0, 1.0});
  expect_sorted_like_reference({0.0, -0.0});
  expect_sorted_like_reference(std::vector<double>(1000, 7.0));  // hi == lo
  expect_sorted_like_reference(std::vector<double>(1000, -0.0));
  expect_sorted_like_reference(std::vector<double>(1000, kNan));    // no finite key
  expect_sorted_like_reference({kInf, -kInf, kInf, kNan, -kInf});   // none finite either
  expect_sorted_like_reference({7.0, 7.0, kInf, 7.0, -kInf, 7.0});  // hi == lo among infinities
  expect_sorted_like_reference({kHuge, -kHuge, 0.0, 1.0, -1.0});    // a span that overflows
}

TEST(RadixSort, SortsWhateverRangeItIsGiven) {
  std::mt19937_64 random(19);
  std::uniform_real_distribution<double> angle(0.0, 60.0);
  std::vector<double> keys(40000);
  for (double& k : keys) k = angle(random);
  keys[9] = kNan;
  keys[99] = -kInf;
  keys[999] = kInf;
  const std::vector<KeyRange> ranges = {{0.0, 60.0},  {10.0, 20.0}, {100.0, 200.0},  {-5.0, -4.0},
                                        {30.0, 30.0}, {0.0, kTiny}, {-kHuge, kHuge}, {kInf, -kInf}};
  for (const KeyRange& range : ranges) {
    SCOPED_TRACE(testing::Message() << "range " << range.lo << ".." << range.hi);
    expect_like_reference(keys, sort_pairs_in(keys, range));
  }
}

TEST(RadixSort, TwoThreadsGiveTheBytesOfOne) {
  // More keys than the automatic choice sorts on one thread, with many ties
  // (angles on a grid of 1e-5 degrees), bunches, infinities and NaN.
  std::mt19937_64 random(23);
  std::uniform_real_distribution<double> angle(0.0, 60.0);
  std::uniform_int_distribution<int> kind(0, 99);
  std::vector<double> keys(kPartedItems + 300000);
  for (double& k : keys) {
    const int c = kind(random);
    if (c < 2) {
      k = nan_with_payload(random(), c == 0);
    } else if (c < 4) {
      k = c == 2 ? kInf : -kInf;
    } else if (c < 14) {
      k = 12.5 + 1e-12 * static_cast<double>(c);  // a bunch of close ties
    } else {
      k = std::round(angle(random) * 1e5) / 1e5;
    }
  }
  const Sorted one = sort_pairs(keys, 1);
  const Sorted two = sort_pairs(keys, 2);
  EXPECT_TRUE(same_bytes(one.keys, two.keys));
  EXPECT_TRUE(same_bytes(one.values, two.values));
  expect_like_reference(keys, two);
  const Sorted chosen = sort_pairs(keys);
  EXPECT_TRUE(same_bytes(one.keys, chosen.keys));
  EXPECT_TRUE(same_bytes(one.values, chosen.values));
}

TEST(RadixSort, TwoThreadsHandleTinyAndEqualInputs) {
  const std::vector<std::vector<double>> inputs = {{},
                                                   {4.0},
                                                   {kNan},
                                                   {2.0, 1.0},
                                                   std::vector<double>(1000, 7.0),
                                                   std::vector<double>(1000, kNan),
                                                   {kInf, -kInf, kInf, kNan, -kInf}};
  for (const std::vector<double>& keys : inputs) {
    SCOPED_TRACE(testing::Message() << keys.size() << " keys");
    const Sorted one = sort_pairs(keys, 1);
    const Sorted two = sort_pairs(keys, 2);
    EXPECT_TRUE(same_bytes(one.keys, two.keys));
    EXPECT_TRUE(same_bytes(one.values, two.values));
    expect_like_reference(keys, two);
  }
}

// Counted and placed in parts, each on a thread of its own, cut at the given
// key indices.
Sorted sort_pairs_in_parts(const std::vector<double>& keys, const std::vector<std::size_t>& cuts) {
  const std::size_t n = keys.size();
  const std::vector<std::uint32_t> values = input_values(n);
  Sorted out{std::vector<double>(n, -1.0), std::vector<double>(n, -1.0)};
  const unsigned parts = static_cast<unsigned>(cuts.size() + 1);
  auto begin = [&](unsigned p) { return p == 0 ? 0 : cuts[p - 1]; };
  auto end = [&](unsigned p) { return p + 1 == parts ? n : cuts[p]; };
  RadixSort sort(finite_range(keys.data(), n), n, parts);
  run_parts(parts, [&](unsigned p) {
    RadixSort::Counter count = sort.counter(p);
    for (std::size_t i = begin(p); i < end(p); ++i) count(keys[i]);
  });
  sort.place_into(out.keys.data(), out.values.data(), n);
  run_parts(parts, [&](unsigned p) {
    RadixSort::Placer place = sort.placer(p);
    for (std::size_t i = begin(p); i < end(p); ++i) place(keys[i], values[i]);
  });
  sort.finish(2);
  return out;
}

TEST(RadixSort, PartsKeepTheOrderOfTheWhole) {
  // Ties and bunches that straddle the cuts: each tie's pairs must come out
  // in input order whichever part placed them.
  std::mt19937_64 random(29);
  std::uniform_int_distribution<int> grid(0, 400);
  std::vector<double> keys(300000);
  for (double& k : keys) k = grid(random) * 0.125;
  for (std::size_t i = 0; i < keys.size(); i += 97) keys[i] = kNan;
  keys[1000] = kInf;
  keys[250000] = -kInf;
  const Sorted whole = sort_pairs(keys, 1);
  expect_like_reference(keys, whole);
  const std::vector<std::vector<std::size_t>> cut_sets = {
      {150000}, {1}, {299999}, {0, 300000}, {1000, 1001, 200000}, {100000, 100000}};
  for (const std::vector<std::size_t>& cuts : cut_sets) {
    SCOPED_TRACE(testing::Message() << cuts.size() + 1 << " parts, first cut " << cuts[0]);
    const Sorted parted = sort_pairs_in_parts(keys, cuts);
    EXPECT_TRUE(same_bytes(whole.keys, parted.keys));
    EXPECT_TRUE(same_bytes(whole.values, parted.values));
  }
}

TEST(RadixSort, RefusesMemoryThatTheCountsDoNotFill) {
  const std::vector<double> keys = {3.0, 1.0, 2.0};
  RadixSort sort(finite_range(keys.data(), 3), 3);
  RadixSort::Counter count = sort.counter();
  for (double k : keys) count(k);
  count.remove(2.0);
  std::vector<double> sorted(3, -1.0), values(3, -1.0);
  EXPECT_THROW(sort.place_into(sorted.data(), values.data(), 3), std::logic_error);
  EXPECT_EQ(sorted, std::vector<double>(3, -1.0));
  sort.place_into(sorted.data(), values.data(), 2);
  RadixSort::Placer place = sort.placer();
  place(3.0, 7);
  place(1.0, 8);
  sort.finish(1);
  EXPECT_EQ(sorted[0], 1.0);
  EXPECT_EQ(sorted[1], 3.0);
  EXPECT_EQ(values[0], 8.0);
  EXPECT_EQ(values[1], 7.0);
}

TEST(RadixSort, RefusesMoreKeysThanValuesCanNumber) {
  EXPECT_THROW(RadixSort(KeyRange{0, 1}, std::size_t{1} << 32), std::invalid_argument);
}

}  // namespace
