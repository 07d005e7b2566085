// Bin layout: centres over the data or a requested range, edges exactly as
// the integration derives them, and members per bin.
#include <gtest/gtest.h>

#include <vector>

#include "reduce/bins.h"

namespace {

TEST(Bins, CountSpreadsCentresEvenlyOverTheRange) {
  BinRequest r;
  r.count = 4;
  r.low = 10;
  r.high = 12;
  BinLayout b;
  std::string error;
  ASSERT_TRUE(lay_out_bins(r, 0, 100, 99, &b, &error)) << error;
  EXPECT_EQ(b.centres, (std::vector<double>{10.25, 10.75, 11.25, 11.75}));
  EXPECT_EQ(b.edges, (std::vector<double>{10, 10.5, 11, 11.5, 12}));
  EXPECT_DOUBLE_EQ(b.width, 0.5);
}

TEST(Bins, WidthCoversTheRangeWithWholeBins) {
  BinRequest r;
  r.width = 0.3;
  r.low = 1;
  r.high = 2;
  BinLayout b;
  std::string error;
  ASSERT_TRUE(lay_out_bins(r, 0, 100, 99, &b, &error)) << error;
  ASSERT_EQ(b.centres.size(), 4u);  // 1.0 .. 2.2 in steps of 0.3
  EXPECT_DOUBLE_EQ(b.centres[0], 1.15);
  EXPECT_DOUBLE_EQ(b.edges.back(), 2.2);
}

TEST(Bins, DefaultsTakeTheDataExtentAndCount) {
  BinRequest r;
  BinLayout b;
  std::string error;
  ASSERT_TRUE(lay_out_bins(r, 2, 6, 8, &b, &error)) << error;
  ASSERT_EQ(b.centres.size(), 8u);
  // The extent is widened a hair, so the end keys lie inside.
  EXPECT_LT(b.edges.front(), 2.0);
  EXPECT_GT(b.edges.back(), 6.0);
  EXPECT_NEAR(b.width, 0.5, 1e-8);
  const std::vector<double> keys = {2, 2.4, 2.5, 3, 5.99, 6};
  EXPECT_EQ(bin_counts(b, keys.data(), 6), (std::vector<std::int64_t>{2, 1, 1, 0, 0, 0, 0, 2}));
}

TEST(Bins, EdgesAreTheMidpointsTheIntegrationUses) {
  BinRequest r;
  r.count = 7;
  BinLayout b;
  std::string error;
  ASSERT_TRUE(lay_out_bins(r, 0.123, 47.9, 1, &b, &error)) << error;
  const std::vector<double>& c = b.centres;
  EXPECT_EQ(b.edges[0], c[0] - (c[1] - c[0]) * 0.5);
  for (std::size_t i = 1; i < c.size(); ++i) EXPECT_EQ(b.edges[i], (c[i - 1] + c[i]) * 0.5);
  EXPECT_EQ(b.edges[7], c[6] + (c[6] - c[5]) * 0.5);
}

TEST(Bins, KeyOnAnEdgeBelongsToTheUpperBin) {
  BinRequest r;
  r.count = 2;
  r.low = 0;
  r.high = 2;
  BinLayout b;
  std::string error;
  ASSERT_TRUE(lay_out_bins(r, 0, 2, 1, &b, &error)) << error;
  const std::vector<double> keys = {0, 0.5, 1, 1, 1.5};
  EXPECT_EQ(bin_counts(b, keys.data(), 5), (std::vector<std::int64_t>{2, 3}));
  EXPECT_EQ(first_not_below(keys.data(), 5, 1.0), 2);
  EXPECT_EQ(first_not_below(keys.data(), 5, 9.0), 5);
}

TEST(Bins, SingleBinSpansTheRange) {
  BinRequest r;
  r.count = 1;
  r.low = 3;
  r.high = 5;
  BinLayout b;
  std::string error;
  ASSERT_TRUE(lay_out_bins(r, 0, 10, 1, &b, &error)) << error;
  EXPECT_EQ(b.centres, (std::vector<double>{4}));
  EXPECT_EQ(b.edges, (std::vector<double>{3, 5}));
}

TEST(Bins, RequestsThatCannotBeMetAreRefused) {
  BinLayout b;
  std::string error;
  BinRequest both;
  both.count = 3;
  both.width = 0.1;
  EXPECT_FALSE(lay_out_bins(both, 0, 1, 1, &b, &error));
  EXPECT_NE(error.find("not both"), std::string::npos);
  BinRequest reversed;
  reversed.low = 5;
  reversed.high = 4;
  EXPECT_FALSE(lay_out_bins(reversed, 0, 10, 10, &b, &error));
  EXPECT_NE(error.find("upper end"), std::string::npos);
  BinRequest tiny;
  tiny.width = 1e-12;
  EXPECT_FALSE(lay_out_bins(tiny, 0, 90, 1, &b, &error));
  EXPECT_NE(error.find("number of bins"), std::string::npos);
}

}  // namespace
