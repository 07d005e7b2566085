#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "geometry/polar_angle_map.h"

namespace {

const double kPi = 2 * std::asin(1.0);

struct Plate {
  double distance, tilt, direction;
};

double map_one(const Plate& p, double x, double y) {
  const std::vector<double> xs = {x}, ys = {y};
  double out = -1;
  EXPECT_TRUE(
      polar_angle_map(p.distance, p.tilt, p.direction, xs.data(), 1, ys.data(), 1, &out, 1, 1));
  return out;
}

using Vec = std::array<double, 3>;

Vec cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec& a, const Vec& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The pixel placed in space: the point (x, y, 0) of the plate is turned about
// the tilt axis k = (-sin ρ, cos ρ, 0) by Rodrigues' formula, by the angle -τ so
// that the side with x·cos ρ + y·sin ρ > 0 moves away from the sample, and the
// plate is moved D along the beam (0, 0, 1). The polar angle is the angle
// between that position and the beam.
double reference_polar_angle(const Plate& p, double x, double y) {
  const double rho = p.direction * kPi / 180, theta = -p.tilt * kPi / 180;
  const Vec k = {-std::sin(rho), std::cos(rho), 0};
  const Vec v = {x, y, 0};
  const Vec kv = cross(k, v);
  const double kdotv = dot(k, v);
  Vec pos;
  for (int j = 0; j < 3; ++j) {
    pos[j] =
        v[j] * std::cos(theta) + kv[j] * std::sin(theta) + k[j] * kdotv * (1 - std::cos(theta));
  }
  pos[2] += 1000 * p.distance;
  const Vec beam = {0, 0, 1};
  const Vec side = cross(pos, beam);
  return std::atan2(std::sqrt(dot(side, side)), dot(pos, beam)) * 180 / kPi;
}

// The defining formula, term by term with the standard library, as the
// reference for any faster evaluation of it.
double formula_polar_angle(const Plate& p, double x, double y) {
  const double pi = 2 * std::asin(1.0);
  const double tau = p.tilt * (pi / 180), rho = p.direction * (pi / 180);
  const double r = x * std::cos(rho) + y * std::sin(rho);
  const double t = y * std::cos(rho) - x * std::sin(rho);
  const double a = t * t + std::pow(r * std::cos(tau), 2);
  const double b = std::pow(r * std::sin(tau) + 1000 * p.distance, 2);
  return std::atan(std::sqrt(a / b)) * (180 / pi);
}

TEST(PolarAngleMap, KnownAngles) {
  EXPECT_NEAR(map_one({1, 0, 0}, 1000, 0), 45, 1e-12);
  EXPECT_NEAR(map_one({1, 0, 0}, 0, -1000), 45, 1e-12);

  const Plate along_x = {0.1, 30, 0};
  EXPECT_NEAR(map_one(along_x, 100, 0), 30, 1e-12);
  EXPECT_NEAR(map_one(along_x, -100, 0), 60, 1e-12);
  EXPECT_NEAR(map_one(along_x, 0, 100), 45, 1e-12);

  const Plate along_y = {0.1, 30, 90};
  EXPECT_NEAR(map_one(along_y, 0, 100), 30, 1e-12);
  EXPECT_NEAR(map_one(along_y, 0, -100), 60, 1e-12);
  EXPECT_NEAR(map_one(along_y, 100, 0), 45, 1e-12);

  for (double tilt : {0.0, 10.0, 45.0, -60.0, 89.0}) {
    EXPECT_EQ(map_one({0.2, tilt, 33}, 0, 0), 0) << "tilt " << tilt;
  }
}

TEST(PolarAngleMap, EdgeValues) {
  // The plate edge that reaches the sample's plane: b = 0 gives exactly 90.
  EXPECT_EQ(map_one({0.1, 90, 0}, -100, 0), 90);
  // Distance 0 at the origin (a = b = 0) and NaN coordinates give NaN.
  EXPECT_TRUE(std::isnan(map_one({0, 0, 0}, 0, 0)));
  EXPECT_TRUE(std::isnan(map_one({1, 10, 0}, std::nan(""), 5)));
}

// Random plates and pixels in front of the sample.
struct Sample {
  Plate plate;
  double x, y;
};

std::vector<Sample> random_samples(int count) {
  std::mt19937_64 rng(20240611);
  std::uniform_real_distribution<double> distance(0.05, 0.5), tilt(-70, 70), direction(-180, 360),
      coordinate(-400, 400);
  std::vector<Sample> samples;
  while (static_cast<int>(samples.size()) < count) {
    const Sample s = {{distance(rng), tilt(rng), direction(rng)}, coordinate(rng), coordinate(rng)};
    const double rho = s.plate.direction * kPi / 180, tau = s.plate.tilt * kPi / 180;
    const double r = s.x * std::cos(rho) + s.y * std::sin(rho);
    if (r * std::sin(tau) + 1000 * s.plate.distance > 10) samples.push_back(s);
  }
  return samples;
}

TEST(PolarAngleMap, AgreesWithThePixelPlacedInSpace) {
  for (const Sample& s : random_samples(2000)) {
    EXPECT_NEAR(map_one(s.plate, s.x, s.y), reference_polar_angle(s.plate, s.x, s.y), 1e-9)
        << "distance " << s.plate.distance << " tilt " << s.plate.tilt << " direction "
        << s.plate.direction << " at (" << s.x << ", " << s.y << ")";
  }
}

// A grid of w x values and h y values, and the same pixels listed pair by pair.
struct Grid {
  std::vector<double> x, y, pair_x, pair_y;
};

Grid make_grid(std::int64_t w, std::int64_t h, std::mt19937_64* rng) {
  std::uniform_real_distribution<double> coordinate(-1500, 1500);
  Grid g;
  for (std::int64_t i = 0; i < w; ++i) g.x.push_back(coordinate(*rng));
  for (std::int64_t i = 0; i < h; ++i) g.y.push_back(coordinate(*rng));
  for (std::int64_t row = 0; row < h; ++row) {
    for (std::int64_t col = 0; col < w; ++col) {
      g.pair_x.push_back(g.x[col]);
      g.pair_y.push_back(g.y[row]);
    }
  }
  return g;
}

TEST(PolarAngleMap, GridAndElementWiseGiveTheSameMapAsTheFormula) {
  // Rows longer than a block, and plates from nearly flat to nearly edge-on.
  std::mt19937_64 rng(7);
  const Grid g = make_grid(1100, 9, &rng);
  const std::int64_t n = g.pair_x.size();
  for (const Plate& p : {Plate{0.3, 0, 0}, Plate{0.25, 17.5, 123}, Plate{0.4, -35, -20},
                         Plate{0.01, 80, 200}, Plate{2, 5, 45}}) {
    std::vector<double> grid(n), pairs(n);
    EXPECT_TRUE(polar_angle_map(p.distance, p.tilt, p.direction, g.x.data(), g.x.size(), g.y.data(),
                                g.y.size(), grid.data(), n, g.x.size()));
    EXPECT_TRUE(polar_angle_map(p.distance, p.tilt, p.direction, g.pair_x.data(), n,
                                g.pair_y.data(), n, pairs.data(), n, g.x.size()));
    for (std::int64_t i = 0; i < n; ++i) {
      ASSERT_EQ(grid[i], pairs[i]) << "element " << i;
      ASSERT_NEAR(grid[i], formula_polar_angle(p, g.pair_x[i], g.pair_y[i]), 1e-12)
          << "element " << i;
    }
  }
}

TEST(PolarAngleMap, GridAddressing) {
  const Plate p = {0.1, 30, 0};
  {  // 3 x 2 output: element 4 is column 1 of row 1.
    const std::vector<double> x = {-100, 100, 0}, y = {0, 100};
    std::vector<double> out(6);
    EXPECT_TRUE(polar_angle_map(p.distance, p.tilt, p.direction, x.data(), 3, y.data(), 2,
                                out.data(), 6, 3));
    EXPECT_NEAR(out[4], reference_polar_angle(p, 100, 100), 1e-9);
    EXPECT_NEAR(out[0], 60, 1e-12);
    EXPECT_NEAR(out[5], 45, 1e-12);
  }
  {  // A one-row output shorter than x: element i takes x[i] and y[0].
    const std::vector<double> x = {100, -100, 0, 5}, y = {0, 100, 100, 100};
    std::vector<double> out(3);
    EXPECT_TRUE(polar_angle_map(p.distance, p.tilt, p.direction, x.data(), 4, y.data(), 4,
                                out.data(), 3, 3));
    EXPECT_NEAR(out[0], 30, 1e-12);
    EXPECT_NEAR(out[1], 60, 1e-12);
    EXPECT_EQ(out[2], 0);
  }
}

TEST(PolarAngleMap, ShortArraysGiveNaNAndFalse) {
  const Plate p = {0.1, 30, 0};
  {  // Element-wise (x decides) with y one short.
    const std::vector<double> x = {100, -100, 0}, y = {0, 0};
    std::vector<double> out(3);
    EXPECT_FALSE(polar_angle_map(p.distance, p.tilt, p.direction, x.data(), 3, y.data(), 2,
                                 out.data(), 3, 3));
    EXPECT_NEAR(out[0], 30, 1e-12);
    EXPECT_NEAR(out[1], 60, 1e-12);
    EXPECT_TRUE(std::isnan(out[2]));
  }
  {  // Grid of 2 x 2 with one x value and one y value.
    const std::vector<double> x = {-100}, y = {0};
    std::vector<double> out(4);
    EXPECT_FALSE(polar_angle_map(p.distance, p.tilt, p.direction, x.data(), 1, y.data(), 1,
                                 out.data(), 4, 2));
    EXPECT_NEAR(out[0], 60, 1e-12);
    for (int i : {1, 2, 3}) EXPECT_TRUE(std::isnan(out[i])) << "element " << i;
  }
}

}  // namespace
