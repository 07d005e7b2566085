// The angle sort: keys that order like doubles, and a stable radix sort that
// agrees with std::stable_sort on every kind of input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "reduce/radix_sort.h"

namespace {

const double kNan = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Expected order: ascending by the double, equal keys in input order, NaN last.
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

void expect_sorted_like_reference(const std::vector<double>& input) {
  std::vector<std::uint64_t> keys(input.size());
  std::vector<std::uint32_t> values(input.size());
  for (std::size_t i = 0; i < input.size(); ++i) {
    keys[i] = order_key(input[i]);
    values[i] = static_cast<std::uint32_t>(i);
  }
  radix_sort_pairs(&keys, &values);
  const std::vector<std::uint32_t> expected = reference_order(input);
  ASSERT_EQ(values, expected);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const double back = from_order_key(keys[i]);
    const double original = input[values[i]];
    if (std::isnan(original)) {
      EXPECT_TRUE(std::isnan(back));
    } else {
      EXPECT_EQ(std::memcmp(&back, &original, sizeof back), 0) << "at " << i;
    }
  }
}

TEST(OrderKey, OrdersLikeTheDoubles) {
  const std::vector<double> ascending = {
      -kInf, -1e300, -2.5, -1e-300, -0.0, 0.0, 1e-310, 1e-300, 0.5, 1.0, 1.0000000000000002,
      90.0,  1e300,  kInf};
  for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
    EXPECT_LT(order_key(ascending[i]), order_key(ascending[i + 1])) << ascending[i];
  }
  EXPECT_GT(order_key(kNan), order_key(kInf));
  EXPECT_GT(order_key(-kNan), order_key(kInf));
}

TEST(RadixSort, MatchesAStableSortOnAngles) {
  std::mt19937_64 random(3);
  std::uniform_real_distribution<double> angle(0.0, 60.0);
  std::vector<double> keys(200000);
  for (double& k : keys) k = angle(random);
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, KeepsTiesInInputOrderAndPutsNanLast) {
  std::mt19937_64 random(5);
  std::uniform_int_distribution<int> pick(0, 9);
  const std::vector<double> few = {kNan,  3.0,  -0.0, 0.0, 1e-20, -7.5, kInf, 3.0000000000000004,
                                   -kInf, 12.25};
  std::vector<double> keys(50000);
  for (double& k : keys) k = few[pick(random)];
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, SortsKeysThatDifferOnlyInTheLowestBits) {
  // All within a few ulps of 20 degrees: one long run that shares the prefix.
  std::mt19937_64 random(11);
  std::uniform_int_distribution<int> ulps(0, 5000);
  std::vector<double> keys(20000);
  for (double& k : keys) {
    k = 20.0;
    for (int u = ulps(random); u > 0; --u) k = std::nextafter(k, 100.0);
  }
  keys[17] = 0.001;  // and one far away, so the prefix spans a wide range
  expect_sorted_like_reference(keys);
}

TEST(RadixSort, HandlesTinyAndEqualInputs) {
  expect_sorted_like_reference({});
  expect_sorted_like_reference({4.0});
  expect_sorted_like_reference({2.0, 1.0});
  expect_sorted_like_reference(std::vector<double>(1000, 7.0));
  expect_sorted_like_reference(std::vector<double>(1000, kNan));
}

TEST(RadixSort, ReportsWhereTheResultLies) {
  std::vector<std::uint64_t> keys = {order_key(3), order_key(1), order_key(2)};
  std::vector<std::uint32_t> values = {30, 10, 20};
  std::vector<std::uint64_t> key_scratch(3);
  std::vector<std::uint32_t> value_scratch(3);
  const bool in_scratch =
      radix_sort_pairs(keys.data(), values.data(), 3, key_scratch.data(), value_scratch.data());
  const std::vector<std::uint32_t>& sorted = in_scratch ? value_scratch : values;
  EXPECT_EQ(sorted, (std::vector<std::uint32_t>{10, 20, 30}));
}

}  // namespace
