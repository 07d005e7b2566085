#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "integrate/radix_sort.h"

namespace {

std::vector<double> radix_sorted(std::vector<double> v) {
  std::vector<double> scratch(v.size());
  radix_sort(v.data(), scratch.data(), v.size());
  return v;
}

TEST(RadixSort, MatchesComparisonSortOnValuesOfEveryKind) {
  const double inf = std::numeric_limits<double>::infinity();
  const double tiny = std::numeric_limits<double>::denorm_min();
  EXPECT_EQ(radix_sorted({}), std::vector<double>{});
  EXPECT_EQ(radix_sorted({3}), std::vector<double>{3});
  EXPECT_EQ(radix_sorted({2, -1}), (std::vector<double>{-1, 2}));
  EXPECT_EQ(radix_sorted({inf, tiny, -tiny, 0, -inf, 1e300, -1e-300, 7, 7, -7}),
            (std::vector<double>{-inf, -7, -1e-300, -tiny, 0, tiny, 7, 7, 1e300, inf}));

  std::mt19937_64 random(5);
  std::uniform_int_distribution<int> small(-40, 40);
  std::normal_distribution<double> spread(0.0, 1e3);
  std::uniform_int_distribution<std::size_t> length(0, 3000);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<double> v(length(random));
    for (double& x : v)
      x = trial % 2 == 0 ? small(random) + 0.5 : std::ldexp(spread(random), small(random));
    std::vector<double> expected = v;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(radix_sorted(v), expected) << "trial " << trial;
  }
}

TEST(RadixSort, NegativeZeroGoesBeforePositiveZero) {
  const std::vector<double> sorted = radix_sorted({0.0, -0.0, 1.0, -0.0, 0.0, -1.0});
  EXPECT_EQ(sorted, (std::vector<double>{-1, 0, 0, 0, 0, 1}));
  EXPECT_TRUE(std::signbit(sorted[1]) && std::signbit(sorted[2]));
  EXPECT_FALSE(std::signbit(sorted[3]) || std::signbit(sorted[4]));
}

}  // namespace
