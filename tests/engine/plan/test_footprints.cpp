// Pixels spread over bins: the shares of intervals, quadrilaterals and
// cells on closed forms, and the weighted median of shares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "engine/plan/footprints.h"
#include "engine/run/bin_sums.h"

namespace vokip {
namespace {

std::map<std::int64_t, double> interval_shares(const Edges& e, double low, double high) {
  std::map<std::int64_t, double> shares;
  spread_interval(e, low, high, [&](std::int64_t bin, double share) { shares[bin] += share; });
  return shares;
}

std::map<std::int64_t, double> quad_shares(const Edges& e, const Quad& q) {
  std::map<std::int64_t, double> shares;
  spread_quad_radially(e, q, [&](std::int64_t bin, double share) { shares[bin] += share; });
  return shares;
}

TEST(Footprints, IntervalsShareTheirLengthAmongTheBins) {
  const Edges e({0, 1, 2, 3, 4});
  EXPECT_EQ(e.bin_of(-0.1), -1);
  EXPECT_EQ(e.bin_of(0), 0);
  EXPECT_EQ(e.bin_of(1), 1);  // an edge opens the bin above it
  EXPECT_EQ(e.bin_of(3.999), 3);
  EXPECT_EQ(e.bin_of(4), 4);
  EXPECT_EQ(e.bin_of(std::nan("")), 4);

  using Shares = std::map<std::int64_t, double>;
  EXPECT_EQ(interval_shares(e, 1.25, 1.75), (Shares{{1, 1.0}}));  // inside one bin
  EXPECT_EQ(interval_shares(e, 1.5, 1.5), (Shares{{1, 1.0}}));    // no length
  EXPECT_EQ(interval_shares(e, 0.5, 1.5), (Shares{{0, 0.5}, {1, 0.5}}));
  EXPECT_EQ(interval_shares(e, 1.0, 2.0), (Shares{{1, 1.0}}));  // nothing for the bin above
  const Shares three = interval_shares(e, 0.75, 2.25);
  EXPECT_DOUBLE_EQ(three.at(0), 0.25 / 1.5);
  EXPECT_DOUBLE_EQ(three.at(1), 1 / 1.5);
  EXPECT_DOUBLE_EQ(three.at(2), 0.25 / 1.5);
  // What lies outside the bins is lost, not crowded into the end bins.
  EXPECT_EQ(interval_shares(e, 3.5, 4.5), (Shares{{3, 0.5}}));
  EXPECT_EQ(interval_shares(e, -1, -0.5), Shares{});

  // Uneven edges: each share is still the length inside over the whole.
  const Edges uneven({0, 0.1, 2, 2.05});
  const Shares spread = interval_shares(uneven, 0, 2.05);
  double sum = 0;
  for (const auto& [bin, share] : spread) sum += share;
  EXPECT_DOUBLE_EQ(sum, 1);
  EXPECT_DOUBLE_EQ(spread.at(1), 1.9 / 2.05);
}

// A binning's shares, kept per pixel as the first bin, one inner and the
// last share, give each interval's shares as spread_interval does: inside
// one bin, across two, across many, cut by the edges at either end or both,
// outside every bin, and for a pixel that does not take part none at all.
TEST(Footprints, KeptSharesAreTheIntervalsShares) {
  std::vector<double> edges;
  for (int k = 0; k <= 40; ++k) edges.push_back(10 + 0.25 * k);
  const Edges e(edges);
  const std::vector<std::pair<double, double>> intervals = {
      {12.1, 12.2}, {12.1, 12.4}, {12.1, 14.93}, {9.5, 10.6},
      {19.3, 21},   {9, 22},      {5, 6},        {20, 20.5}};
  PixelShares kept(static_cast<std::int64_t>(intervals.size()) + 1);
  for (std::size_t p = 0; p < intervals.size(); ++p) {
    kept.set(static_cast<std::int64_t>(p), e, intervals[p].first, intervals[p].second);
  }
  const auto left_out = static_cast<std::int64_t>(intervals.size());
  kept.leave_out(left_out);
  for (std::size_t p = 0; p < intervals.size(); ++p) {
    std::map<std::int64_t, double> got;
    kept.spread(static_cast<std::int64_t>(p), [&](std::int64_t bin, double share) {
      EXPECT_EQ(got.count(bin), 0u) << "bin " << bin << " twice";
      got[bin] = share;
    });
    const auto want = interval_shares(e, intervals[p].first, intervals[p].second);
    ASSERT_EQ(got.size(), want.size()) << "interval " << p;
    for (const auto& [bin, share] : want) {
      ASSERT_EQ(got.count(bin), 1u) << "interval " << p << " bin " << bin;
      EXPECT_NEAR(got[bin], share, 1e-7 * share) << "interval " << p << " bin " << bin;
    }
  }
  EXPECT_TRUE(kept.member(0));
  EXPECT_TRUE(kept.member(6));  // taking part, though outside every bin
  EXPECT_FALSE(kept.member(left_out));
  kept.spread(left_out, [](std::int64_t, double) { ADD_FAILURE() << "a share left out"; });
}

TEST(Footprints, QuadrilateralsShareTheirArea) {
  const Edges e({0, 0.5, 1, 1.5, 2});
  // A square from x = 0.5 to 1.5: half in each of two bins.
  const Quad square{{0.5, 1.5, 1.5, 0.5}, {0, 0, 1, 1}};
  using Shares = std::map<std::int64_t, double>;
  EXPECT_EQ(quad_shares(e, square), (Shares{{1, 0.5}, {2, 0.5}}));
  // A diamond |x - 1| + |y| <= 1 (area 2): the triangle below x = 0.5 has
  // area 0.25, the band from 0.5 to 1 area 0.75.
  const Quad diamond{{0, 1, 2, 1}, {0, -1, 0, 1}};
  const Shares d = quad_shares(e, diamond);
  ASSERT_EQ(d.size(), 4u);
  EXPECT_DOUBLE_EQ(d.at(0), 0.125);
  EXPECT_DOUBLE_EQ(d.at(1), 0.375);
  EXPECT_DOUBLE_EQ(d.at(2), 0.375);
  EXPECT_DOUBLE_EQ(d.at(3), 0.125);
  // Either way round the same, and beyond the last edge lost.
  const Quad reversed{{1, 2, 1, 0}, {1, 0, -1, 0}};
  EXPECT_EQ(quad_shares(e, reversed), d);
  const Quad over{{1.5, 2.5, 2.5, 1.5}, {0, 0, 1, 1}};
  EXPECT_EQ(quad_shares(e, over), (Shares{{3, 0.5}}));

  // In cells: a unit square over radial edges 0, 0.5, 1 and azimuth edges 0,
  // 0.25, 1.
  std::map<std::pair<std::int64_t, std::int64_t>, double> cells;
  spread_quad(Edges({0, 0.5, 1}), Edges({0, 0.25, 1}), Quad{{0, 1, 1, 0}, {0, 0, 1, 1}},
              [&](std::int64_t i, std::int64_t j, double share) {
                cells[{i, j}] += share;
              });
  EXPECT_EQ(cells, (std::map<std::pair<std::int64_t, std::int64_t>, double>{
                       {{0, 0}, 0.125}, {{0, 1}, 0.375}, {{1, 0}, 0.125}, {{1, 1}, 0.375}}));
}

TEST(BinStatistics, WeightedMedianAndSumsOverShares) {
  auto median_of = [](std::vector<std::pair<double, double>> values_and_shares) {
    std::vector<Share> shares;
    for (const auto& [v, f] : values_and_shares) shares.push_back({0, v, f, 1, v});
    return weighted_median(shares.data(), shares.data() + shares.size());
  };
  // Equal shares: the middle value, or between the middle two.
  EXPECT_EQ(median_of({{3, 1}, {1, 1}, {2, 1}}).value, 2);
  EXPECT_EQ(median_of({{4, 1}, {1, 1}, {3, 1}, {2, 1}}).value, 2.5);
  // Where the cumulative share reaches half the total (2): past 1 and 2 at
  // 1.25, so 3; exactly at 3 when the last weighs more, then between 3 and 4.
  EXPECT_EQ(median_of({{1, 0.5}, {2, 0.75}, {3, 0.5}, {4, 0.25}}).value, 2);
  EXPECT_EQ(median_of({{1, 0.5}, {2, 0.25}, {3, 0.25}, {4, 1}}).value, 3.5);
  const Median m = median_of({{1, 0.5}, {2, 0.25}, {5, 1.25}});
  EXPECT_EQ(m.value, 5);
  EXPECT_DOUBLE_EQ(m.count, 2);
  EXPECT_DOUBLE_EQ(m.spread, (0.5 * 4 + 0.25 * 3) / 2);
  EXPECT_DOUBLE_EQ(m.variance, (0.5 * 16 + 0.25 * 9) / 2);

  // Selection, not sorting, finds it: the same as a scan of the sorted
  // values, for random values with repeats and shares, whole or not.
  std::mt19937 random(5);
  for (int trial = 0; trial < 300; ++trial) {
    std::vector<std::pair<double, double>> v(1 + random() % 200);
    for (auto& [value, share] : v) {
      value = static_cast<double>(random() % 50);
      share = trial % 2 ? 1.0 : (1 + random() % 4) / 4.0;
    }
    std::vector<std::pair<double, double>> sorted = v;
    std::sort(sorted.begin(), sorted.end());
    double total = 0, below = 0, expected = 0;
    for (const auto& s : sorted) total += s.second;
    for (std::size_t k = 0; k < sorted.size(); ++k) {
      below += sorted[k].second;
      if (below * 2 < total) continue;
      expected = below * 2 == total && k + 1 < sorted.size()
                     ? (sorted[k].first + sorted[k + 1].first) / 2
                     : sorted[k].first;
      break;
    }
    ASSERT_EQ(median_of(v).value, expected) << trial;
  }

  // The mean of a bin: sum of signals over sum of normalisations, not the
  // mean of the corrected values (2 and 4 here, whose mean is 3).
  BinSum sum;
  sum.add(1, 2, 1, 2, 2);
  sum.add(1, 12, 3, 4, 12);
  EXPECT_DOUBLE_EQ(sum.mean(), 14.0 / 4);
  // Shares scale signal and normalisation alike; variances by their squares.
  BinSum half;
  half.add(0.5, 2, 1, 2, 2);
  half.add(0.5, 12, 3, 4, 12);
  EXPECT_DOUBLE_EQ(half.mean(), sum.mean());
  EXPECT_DOUBLE_EQ(half.counting_error(), std::sqrt(0.25 * 14) / 2);
  EXPECT_DOUBLE_EQ(sum.counting_error(), std::sqrt(14.0) / 4);
}

}  // namespace
}  // namespace vokip
