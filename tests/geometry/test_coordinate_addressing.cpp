// Which coordinates each output element takes, and what happens at the ends
// of short arrays. A recording map encodes the pair it was given as 1000·y + x.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "geometry/coordinate_addressing.h"

namespace {

struct RecordingMap {
  void pairs(const double* x, const double* y, double* out, std::int64_t count) const {
    EXPECT_LE(count, kCoordinateBlock);
    for (std::int64_t i = 0; i < count; ++i) out[i] = 1000 * y[i] + x[i];
  }
  void row(const double* x, double y, double* out, std::int64_t count) const {
    EXPECT_LE(count, kCoordinateBlock);
    for (std::int64_t i = 0; i < count; ++i) out[i] = 1000 * y + x[i];
  }
};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Output of n elements followed by guard values that must stay untouched.
struct Output {
  explicit Output(std::int64_t n) : values(n + 2, -7.0), n(n) {}
  double* data() { return values.data(); }
  std::vector<double> result() const { return {values.begin(), values.begin() + n}; }
  bool guards_intact() const { return values[n] == -7.0 && values[n + 1] == -7.0; }
  std::vector<double> values;
  std::int64_t n;
};

// NaN-aware comparison of whole outputs.
void expect_values(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got[i])) << "element " << i << " is " << got[i];
    } else {
      EXPECT_EQ(got[i], want[i]) << "element " << i;
    }
  }
}

bool fill(const std::vector<double>& x, const std::vector<double>& y, std::int64_t mode_count,
          Output* out, std::int64_t w) {
  return fill_coordinate_map(RecordingMap(), mode_count, x.data(), x.size(), y.data(), y.size(),
                             out->data(), out->n, w);
}

TEST(CoordinateAddressing, ElementWiseWhenTheModeCountEqualsTheOutputCount) {
  const std::vector<double> x = {1, 2, 3, 4, 5, 6}, y = {7, 8, 9, 10, 11, 12};
  Output out(6);
  EXPECT_TRUE(fill(x, y, 6, &out, 3));
  expect_values(out.result(), {7001, 8002, 9003, 10004, 11005, 12006});
  EXPECT_TRUE(out.guards_intact());
}

TEST(CoordinateAddressing, GridTakesXByColumnAndYByRow) {
  const std::vector<double> x = {1, 2, 3}, y = {7, 8};
  Output out(6);
  EXPECT_TRUE(fill(x, y, 3, &out, 3));
  expect_values(out.result(), {7001, 7002, 7003, 8001, 8002, 8003});
  EXPECT_TRUE(out.guards_intact());
}

TEST(CoordinateAddressing, OneRowOutputShorterThanXUsesTheFirstY) {
  const std::vector<double> x = {1, 2, 3, 4, 5}, y = {7, 8, 9, 10, 11};
  Output out(3);
  EXPECT_TRUE(fill(x, y, 5, &out, 3));
  expect_values(out.result(), {7001, 7002, 7003});
}

TEST(CoordinateAddressing, WidthBelowOneTakesTheOutputAsOneRow) {
  const std::vector<double> x = {1, 2, 3, 4}, y = {7};
  for (std::int64_t w : {0, -1, -5}) {
    Output out(4);
    EXPECT_TRUE(fill(x, y, 1, &out, w)) << "w = " << w;
    expect_values(out.result(), {7001, 7002, 7003, 7004});
  }
}

TEST(CoordinateAddressing, WidthBeyondTheOutputIsOnePartialRow) {
  const std::vector<double> x = {1, 2}, y = {7};
  Output out(2);
  EXPECT_TRUE(fill(x, y, 1, &out, 10));
  expect_values(out.result(), {7001, 7002});
}

TEST(CoordinateAddressing, ShortArraysLeaveNaNWhereACoordinateIsMissing) {
  {  // Element-wise with y shorter than the output.
    const std::vector<double> x = {1, 2, 3, 4}, y = {7, 8};
    Output out(4);
    EXPECT_FALSE(fill(x, y, 4, &out, 4));
    expect_values(out.result(), {7001, 8002, kNaN, kNaN});
    EXPECT_TRUE(out.guards_intact());
  }
  {  // Element-wise with x shorter (the mode is decided by y here).
    const std::vector<double> x = {1}, y = {7, 8, 9};
    Output out(3);
    EXPECT_FALSE(fill(x, y, 3, &out, 3));
    expect_values(out.result(), {7001, kNaN, kNaN});
  }
  {  // Grid with fewer x values than columns and fewer y values than rows.
    const std::vector<double> x = {1, 2}, y = {7, 8};
    Output out(9);
    EXPECT_FALSE(fill(x, y, 2, &out, 3));
    expect_values(out.result(), {7001, 7002, kNaN, 8001, 8002, kNaN, kNaN, kNaN, kNaN});
    EXPECT_TRUE(out.guards_intact());
  }
  {  // Empty coordinate arrays: nothing can be read.
    const std::vector<double> none;
    Output out(2);
    EXPECT_FALSE(fill(none, none, 0, &out, 2));
    expect_values(out.result(), {kNaN, kNaN});
  }
}

TEST(CoordinateAddressing, LongRunsArriveInBlocks) {
  const std::int64_t n = 2 * kCoordinateBlock + 37;
  std::vector<double> x(n), y(n);
  for (std::int64_t i = 0; i < n; ++i) {
    x[i] = i;
    y[i] = i % 7;
  }
  {  // Element-wise.
    Output out(n);
    EXPECT_TRUE(fill(x, y, n, &out, 5));
    for (std::int64_t i = 0; i < n; ++i) ASSERT_EQ(out.values[i], 1000 * (i % 7) + i) << i;
    EXPECT_TRUE(out.guards_intact());
  }
  {  // Two grid rows each longer than a block.
    Output out(2 * n);
    EXPECT_TRUE(fill(x, y, 1, &out, n));
    for (std::int64_t i = 0; i < 2 * n; ++i) {
      ASSERT_EQ(out.values[i], 1000 * (i / n) + i % n) << i;
    }
    EXPECT_TRUE(out.guards_intact());
  }
}

TEST(CoordinateAddressing, EmptyOutputWritesNothing) {
  const std::vector<double> x = {1}, y = {7};
  Output out(0);
  EXPECT_TRUE(fill(x, y, 1, &out, 1));
  EXPECT_TRUE(out.guards_intact());
}

}  // namespace
