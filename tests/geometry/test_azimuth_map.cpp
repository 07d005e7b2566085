#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "geometry/azimuth_map.h"

namespace {

const double kPi = 2 * std::asin(1.0);

double map_one(double x, double y) {
  const std::vector<double> xs = {x}, ys = {y};
  double out = -1;
  EXPECT_TRUE(azimuth_map(ys.data(), 1, xs.data(), 1, &out, 1, 1));
  return out;
}

// Counter-clockwise angle from +x in [0, 360), found from the quadrant and the
// acute angle to the x axis.
double reference_azimuth(double x, double y) {
  const double acute = std::atan(std::fabs(y) / std::fabs(x)) * 180 / kPi;
  if (x > 0) return y > 0 ? acute : 360 - acute;
  return y > 0 ? 180 - acute : 180 + acute;
}

TEST(AzimuthMap, Quadrants) {
  EXPECT_NEAR(map_one(1, 1), 45, 1e-12);
  EXPECT_NEAR(map_one(-1, 1), 135, 1e-12);
  EXPECT_NEAR(map_one(-1, -1), 225, 1e-12);
  EXPECT_NEAR(map_one(1, -1), 315, 1e-12);
  EXPECT_NEAR(map_one(2, 2 * std::sqrt(3.0)), 60, 1e-12);
  EXPECT_NEAR(map_one(-3, -std::sqrt(3.0)), 210, 1e-12);
}

TEST(AzimuthMap, ZeroCoordinatesAreTakenAsOne) {
  const double on_x = std::atan(0.2) * 180 / kPi;  // (5, 1)
  EXPECT_NEAR(map_one(5, 0), on_x, 1e-12);
  EXPECT_NEAR(map_one(5, 0), 11.3099324740202, 1e-10);
  EXPECT_NEAR(map_one(0, 5), 90 - on_x, 1e-12);
  EXPECT_NEAR(map_one(0, 5), 78.6900675259798, 1e-10);
  EXPECT_NEAR(map_one(0, 0), 45, 1e-12);
  EXPECT_NEAR(map_one(-5, 0), 180 - on_x, 1e-12);  // (-5, 1)
  EXPECT_NEAR(map_one(0, -5), 270 + on_x, 1e-12);  // (1, -5)
  // A negative zero is a zero too.
  EXPECT_NEAR(map_one(-0.0, -0.0), 45, 1e-12);
  EXPECT_NEAR(map_one(5, -0.0), on_x, 1e-12);
  EXPECT_NEAR(map_one(-0.0, 5), 90 - on_x, 1e-12);
}

TEST(AzimuthMap, NaNGivesNaN) {
  EXPECT_TRUE(std::isnan(map_one(std::nan(""), 1)));
  EXPECT_TRUE(std::isnan(map_one(1, std::nan(""))));
}

TEST(AzimuthMap, RandomPointsAgreeWithTheQuadrantRule) {
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> coordinate(-1000, 1000);
  for (int k = 0; k < 2000; ++k) {
    const double x = coordinate(rng), y = coordinate(rng);
    EXPECT_NEAR(map_one(x, y), reference_azimuth(x, y), 1e-9) << "(" << x << ", " << y << ")";
  }
}

// The defining formula with the standard library, as the reference for any
// faster evaluation of it.
double formula_azimuth(double x, double y) {
  const double pi = 2 * std::asin(1.0);
  const double y1 = y == 0 ? 1 : y, x1 = x == 0 ? 1 : x;
  return std::atan2(-y1, -x1) * (180 / pi) + 180;
}

TEST(AzimuthMap, GridAndElementWiseGiveTheSameMapAsTheFormula) {
  // Rows longer than a block; whole numbers so that axes and the origin occur.
  std::mt19937_64 rng(3);
  std::uniform_int_distribution<int> coordinate(-40, 40);
  std::vector<double> x(1100), y(9), pair_x, pair_y;
  for (double& v : x) v = coordinate(rng) * 0.5;
  for (double& v : y) v = coordinate(rng) * 0.5;
  y[4] = 0;
  for (double row_y : y) {
    for (double col_x : x) {
      pair_x.push_back(col_x);
      pair_y.push_back(row_y);
    }
  }
  const std::int64_t n = pair_x.size();
  std::vector<double> grid(n), pairs(n);
  EXPECT_TRUE(azimuth_map(y.data(), y.size(), x.data(), x.size(), grid.data(), n, x.size()));
  EXPECT_TRUE(azimuth_map(pair_y.data(), n, pair_x.data(), n, pairs.data(), n, x.size()));
  for (std::int64_t i = 0; i < n; ++i) {
    ASSERT_EQ(grid[i], pairs[i]) << "element " << i;
    ASSERT_NEAR(grid[i], formula_azimuth(pair_x[i], pair_y[i]), 1e-12) << "element " << i;
  }
}

TEST(AzimuthMap, GridAddressingTakesYFirst) {
  // 3 x 2 output: y by row, x by column; element 5 is column 2 of row 1.
  const std::vector<double> y = {1, -1}, x = {1, -1, 0};
  std::vector<double> out(6);
  EXPECT_TRUE(azimuth_map(y.data(), 2, x.data(), 3, out.data(), 6, 3));
  const double expected[] = {45, 135, 45, 315, 225, 315};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(out[i], expected[i], 1e-12) << "element " << i;
}

TEST(AzimuthMap, ModeIsDecidedByTheYCount) {
  // Three y values for three outputs: element-wise, although x is longer.
  const std::vector<double> y = {1, 1, -1}, x = {1, -1, -1, 1};
  std::vector<double> out(3);
  EXPECT_TRUE(azimuth_map(y.data(), 3, x.data(), 4, out.data(), 3, 3));
  EXPECT_NEAR(out[0], 45, 1e-12);
  EXPECT_NEAR(out[1], 135, 1e-12);
  EXPECT_NEAR(out[2], 225, 1e-12);
}

TEST(AzimuthMap, ShortArraysGiveNaNAndFalse) {
  {  // Element-wise (y decides) with x one short.
    const std::vector<double> y = {1, 1}, x = {-1};
    std::vector<double> out(2);
    EXPECT_FALSE(azimuth_map(y.data(), 2, x.data(), 1, out.data(), 2, 2));
    EXPECT_NEAR(out[0], 135, 1e-12);
    EXPECT_TRUE(std::isnan(out[1]));
  }
  {  // Grid of 2 x 3 with one y value: the rows after the first are NaN.
    const std::vector<double> y = {-1}, x = {1, -1};
    std::vector<double> out(6);
    EXPECT_FALSE(azimuth_map(y.data(), 1, x.data(), 2, out.data(), 6, 2));
    EXPECT_NEAR(out[0], 315, 1e-12);
    EXPECT_NEAR(out[1], 225, 1e-12);
    for (int i = 2; i < 6; ++i) EXPECT_TRUE(std::isnan(out[i])) << "element " << i;
  }
}

}  // namespace
