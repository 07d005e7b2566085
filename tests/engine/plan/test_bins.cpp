// Bin layout: centres over the data or a requested range, outer edges as the
// module's bin partition uses them, and where each bin's members start.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/plan/bins.h"
#include "integrate/bin_scanner.h"

namespace vokip {
namespace {

TEST(Bins, CountSpreadsCentresEvenlyOverTheRange) {
  BinRequest r;
  r.count = 4;
  r.low = 10;
  r.high = 12;
  const BinLayout b = lay_out_bins(r, 0, 100, 99);
  EXPECT_EQ(b.centres, (std::vector<double>{10.25, 10.75, 11.25, 11.75}));
  EXPECT_EQ(b.lower, 10);
  EXPECT_EQ(b.upper, 12);
  EXPECT_DOUBLE_EQ(b.width, 0.5);
}

TEST(Bins, WidthCoversTheRangeWithWholeBins) {
  BinRequest r;
  r.width = 0.3;
  r.low = 1;
  r.high = 2;
  const BinLayout b = lay_out_bins(r, 0, 100, 99);
  ASSERT_EQ(b.centres.size(), 4u);  // 1.0 .. 2.2 in steps of 0.3
  EXPECT_DOUBLE_EQ(b.centres[0], 1.15);
  EXPECT_DOUBLE_EQ(b.upper, 2.2);
}

// Where each bin's members start among ascending keys.
std::vector<std::int64_t> starts_among(const BinLayout& b, const std::vector<double>& keys) {
  return bin_starts(b, [&](double edge) {
    return std::partition_point(keys.begin(), keys.end(), [edge](double k) { return edge > k; }) -
           keys.begin();
  });
}

TEST(Bins, DefaultsTakeTheDataExtentAndCount) {
  const BinLayout b = lay_out_bins(BinRequest{}, 2, 6, 8);
  ASSERT_EQ(b.centres.size(), 8u);
  // The extent is widened a hair, so the end keys lie inside.
  EXPECT_LT(b.lower, 2.0);
  EXPECT_GT(b.upper, 6.0);
  EXPECT_NEAR(b.width, 0.5, 1e-8);
  const std::vector<double> keys = {2, 2.4, 2.5, 3, 5.99, 6};
  EXPECT_EQ(starts_among(b, keys), (std::vector<std::int64_t>{0, 2, 3, 4, 4, 4, 4, 4, 6}));
}

TEST(Bins, OuterEdgesAreTheOnesThePartitionUses) {
  BinRequest r;
  r.count = 7;
  const BinLayout b = lay_out_bins(r, 0.123, 47.9, 1);
  const std::vector<double>& c = b.centres;
  EXPECT_EQ(b.lower, c[0] - (c[1] - c[0]) * 0.5);
  EXPECT_EQ(b.upper, c[6] + (c[6] - c[5]) * 0.5);
  // Keys on the inner edges open the next bin.
  std::vector<double> keys = {b.lower};
  for (std::size_t i = 1; i < c.size(); ++i) keys.push_back((c[i - 1] + c[i]) * 0.5);
  const std::vector<std::int64_t> starts = starts_among(b, keys);
  EXPECT_EQ(starts, (std::vector<std::int64_t>{0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(Bins, KeyOnAnEdgeBelongsToTheUpperBin) {
  BinRequest r;
  r.count = 2;
  r.low = 0;
  r.high = 2;
  const BinLayout b = lay_out_bins(r, 0, 2, 1);
  const std::vector<double> keys = {0, 0.5, 1, 1, 1.5};
  EXPECT_EQ(starts_among(b, keys), (std::vector<std::int64_t>{0, 2, 5}));
}

TEST(Bins, SingleBinSpansTheRange) {
  BinRequest r;
  r.count = 1;
  r.low = 3;
  r.high = 5;
  const BinLayout b = lay_out_bins(r, 0, 10, 1);
  EXPECT_EQ(b.centres, (std::vector<double>{4}));
  EXPECT_EQ(b.lower, 3);
  EXPECT_EQ(b.upper, 5);
  const std::vector<double> keys = {3, 4, 4.99};
  EXPECT_EQ(starts_among(b, keys), (std::vector<std::int64_t>{0, 3}));
}

TEST(Bins, StartsAreTheModulesPartition) {
  // Random ascending keys inside the outer edges, many on inner edges, read
  // in blocks of every size: the starts are the bins bin_scanner finds.
  std::mt19937_64 random(3);
  for (std::int64_t m : {1, 2, 5, 17, 300}) {
    BinRequest r;
    r.count = m;
    r.low = 1;
    r.high = 4;
    const BinLayout b = lay_out_bins(r, 0, 10, 1);
    std::vector<double> keys;
    std::uniform_real_distribution<double> inside(b.lower, b.upper);
    for (int k = 0; k < 10000; ++k) keys.push_back(inside(random));
    for (std::size_t i = 0; i + 1 < b.centres.size(); i += 3) {
      keys.push_back((b.centres[i] + b.centres[i + 1]) * 0.5);
    }
    keys.push_back(b.lower);
    std::sort(keys.begin(), keys.end());
    const std::int64_t n = static_cast<std::int64_t>(keys.size());
    const std::vector<std::int64_t> starts = starts_among(b, keys);
    bin_scanner scanner(keys.data(), n, b.centres.data(), m);
    for (std::int64_t i = 0; i < m; ++i) {
      const BinRange bin = scanner.next_bin(i);
      ASSERT_EQ(starts[i], bin.lo) << m << " bins, bin " << i;
      ASSERT_EQ(starts[i + 1], bin.end) << m << " bins, bin " << i;
    }
  }
}

TEST(Bins, RequestsThatCannotBeMetAreRefused) {
  auto error_of = [](const BinRequest& r, double low, double high) {
    try {
      lay_out_bins(r, low, high, 10);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  BinRequest both;
  both.count = 3;
  both.width = 0.1;
  EXPECT_NE(error_of(both, 0, 1).find("not both"), std::string::npos);
  BinRequest reversed;
  reversed.low = 5;
  reversed.high = 4;
  EXPECT_NE(error_of(reversed, 0, 10).find("upper end"), std::string::npos);
  BinRequest tiny;
  tiny.width = 1e-12;
  EXPECT_NE(error_of(tiny, 0, 90).find("number of bins"), std::string::npos);
}

}  // namespace
}  // namespace vokip
