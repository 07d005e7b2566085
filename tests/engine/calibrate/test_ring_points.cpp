// Where rings cross a tilted plate, the peaks found along lines across them,
// what is never taken for a peak, and the search for the rings' centre.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/calibrate/centre.h"
#include "engine/calibrate/fit.h"
#include "engine/calibrate/ring_points.h"
#include "engine/geometry/pixel_angles.h"
#include "support/calibrant_images.h"

namespace vokip {
namespace {

const double kPi = std::acos(-1.0);

Geometry plate(double distance_mm, double tilt_deg, double direction_deg) {
  Geometry g;
  g.distance_mm = distance_mm;
  g.center_x_px = 311.7;
  g.center_y_px = 296.2;
  g.pixel_x_um = 150;
  g.pixel_y_um = 120;
  g.tilt_deg = tilt_deg;
  g.tilt_direction_deg = direction_deg;
  g.wavelength_angstrom = 0.7;
  return g;
}

PlateImage plate_image(const std::vector<std::uint32_t>& pixels, int size) {
  std::vector<float> values(pixels.size());
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    values[i] = pixels[i] == 0 ? PlateImage::kNoData : static_cast<float>(pixels[i]);
  }
  return PlateImage(size, size, values);
}

TEST(RingLocator, PutsRingsWhereTheModuleMeasuresTheirAngle) {
  const std::vector<double> two_theta = {3, 17.5, 41, 70};
  for (const Geometry& g : {plate(100, 0, 0), plate(100, 12, 30), plate(80, 30, 215)}) {
    const RingLocator locate(g, two_theta);
    for (int ring = 0; ring < 4; ++ring) {
      std::vector<double> x, y;
      for (int k = 0; k < 72; ++k) {
        const double phi = 2 * kPi * k / 72;
        const double rho = locate.radius_um(ring, std::cos(phi), std::sin(phi));
        if (std::isnan(rho)) continue;
        x.push_back(g.center_x_px + rho * std::cos(phi) / g.pixel_x_um);
        y.push_back(g.center_y_px + rho * std::sin(phi) / g.pixel_y_um);
      }
      const std::vector<double> measured = point_two_thetas(g, x, y);
      for (double t : measured) EXPECT_NEAR(t, two_theta[ring], 1e-9);
      // Only a 30-degree tilt keeps a 70-degree cone off part of the plate:
      // in directions u = cos(phi - 215 deg) >= 0.684 (where
      // 1 - u^2 sin^2 30 = (u sin 30 tan 70)^2), 19 of the 72.
      EXPECT_EQ(measured.size(), g.tilt_deg == 30 && ring == 3 ? 53u : 72u)
          << g.tilt_deg << " " << ring;
    }
  }
  const RingLocator locate(plate(80, 30, 0), two_theta);
  EXPECT_TRUE(std::isnan(locate.radius_um(3, 1, 0)));
  EXPECT_NEAR(locate.radius_um(3, -1, 0),
              80000 * std::tan(70 * kPi / 180) /
                  (std::cos(30 * kPi / 180) + std::sin(30 * kPi / 180) * std::tan(70 * kPi / 180)),
              1e-6);
}

class RingPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    pattern_ = calibrant_pattern({3.0, 2.2, 1.9, 1.7}, 600);
    pattern_.tilt_deg = 7;
    pattern_.tilt_direction_deg = 125;
    pattern_.noise = false;
    pattern_.overflow_pixels = 0;
    truth_.distance_mm = pattern_.distance_mm;
    truth_.center_x_px = pattern_.center_x_px;
    truth_.center_y_px = pattern_.center_y_px;
    truth_.pixel_x_um = truth_.pixel_y_um = pattern_.pixel_um;
    truth_.tilt_deg = pattern_.tilt_deg;
    truth_.tilt_direction_deg = pattern_.tilt_direction_deg;
    truth_.wavelength_angstrom = pattern_.wavelength_angstrom;
    for (const Ring& r : pattern_.rings) two_theta_.push_back(r.two_theta_deg);
  }
  RingPattern pattern_;
  Geometry truth_;
  std::vector<double> two_theta_;
};

TEST_F(RingPoints, PeaksLieOnTheRingsAndAverageOntoThem) {
  const PlateImage image = plate_image(make_ring_image(pattern_), pattern_.size);
  // Searched from a centre 1.5 px off: lines cross the rings aslant.
  Geometry search = truth_;
  search.center_x_px += 1.5;
  const std::vector<RingPoint> points =
      find_ring_points(image, search, two_theta_, {0, 1, 2, 3}, RingSearch());
  ASSERT_GT(points.size(), 1000u);
  const std::vector<double> measured = two_thetas_of(points, truth_);
  std::vector<double> sum(4, 0);
  std::vector<int> count(4, 0);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double error = measured[i] - two_theta_[points[i].ring];
    EXPECT_LT(std::fabs(error), 0.02) << "point " << i;  // 0.2 px: pixels of a narrow ring
    sum[points[i].ring] += error;
    ++count[points[i].ring];
  }
  for (int ring = 0; ring < 4; ++ring) {
    EXPECT_GT(count[ring], 200) << ring;
    EXPECT_LT(std::fabs(sum[ring] / count[ring]), 8e-4) << ring;
  }
}

TEST_F(RingPoints, NoPointFromWindowsThatMeetPixelsWithoutData) {
  // A wedge of no data between azimuths 30 and 80 degrees, as a mask makes.
  std::vector<std::uint32_t> pixels = make_ring_image(pattern_);
  for (int r = 0; r < pattern_.size; ++r) {
    for (int c = 0; c < pattern_.size; ++c) {
      const double a = std::atan2(r + 0.5 - truth_.center_y_px, c + 0.5 - truth_.center_x_px);
      if (a > 30 * kPi / 180 && a < 80 * kPi / 180) pixels[r * pattern_.size + c] = 0;
    }
  }
  std::vector<int> lines;
  const std::vector<RingPoint> points = find_ring_points(plate_image(pixels, pattern_.size), truth_,
                                                         two_theta_, {1}, RingSearch(), &lines);
  ASSERT_GT(points.size(), 200u);
  EXPECT_EQ(static_cast<int>(points.size()), lines[0]);
  for (const RingPoint& p : points) {
    const double a = std::atan2(p.y - truth_.center_y_px, p.x - truth_.center_x_px) * 180 / kPi;
    // Bilinear samples reach one pixel: 0.5 degrees at this ring's radius.
    EXPECT_FALSE(a > 29.5 && a < 80.5) << a;
  }
}

TEST_F(RingPoints, StepsAreNotPeaks) {
  // A faint beam-stop shadow and a plate that ends, with nothing but
  // background: the shadow's edge and the plate's rim are steps where rings
  // are looked for.
  const int size = 400;
  std::vector<float> values(size * size);
  for (int r = 0; r < size; ++r) {
    for (int c = 0; c < size; ++c) {
      const double radius = std::hypot(c + 0.5 - 200, r + 0.5 - 200);
      values[r * size + c] = radius < 40    ? 5.0f
                             : radius < 180 ? static_cast<float>(300 - 0.5 * radius)
                                            : 0.5f;
    }
  }
  Geometry g = truth_;
  g.center_x_px = g.center_y_px = 200;
  g.tilt_deg = 0;
  const double at_shadow = std::atan(40 * 0.15 / g.distance_mm) * 180 / kPi;
  const double at_rim = std::atan(180 * 0.15 / g.distance_mm) * 180 / kPi;
  std::vector<int> lines;
  const std::vector<RingPoint> points = find_ring_points(
      PlateImage(size, size, values), g, {at_shadow, at_rim}, {0, 1}, RingSearch(), &lines);
  EXPECT_GT(lines[0], 50);
  EXPECT_GT(lines[1], 100);
  EXPECT_TRUE(points.empty()) << points.size() << " points";
}

TEST_F(RingPoints, CentreSearchFindsTheRingsCentreFromAnywhereNear) {
  pattern_.noise = true;
  pattern_.poisson_noise = true;
  pattern_.beam_stop_transmission = 0.03;
  const PlateImage image = plate_image(make_ring_image(pattern_), pattern_.size);
  const double first_ring_px =
      truth_.distance_mm * 1000 * std::tan(two_theta_[0] * kPi / 180) / pattern_.pixel_um;
  for (const PlatePoint start : {PlatePoint{truth_.center_x_px + 40, truth_.center_y_px - 25},
                                 PlatePoint{truth_.center_x_px - 30, truth_.center_y_px}}) {
    const PlatePoint found = find_ring_centre(image, start, 64, first_ring_px / 2);
    // A 7-degree tilt moves the rings' centres by up to about 10 px.
    EXPECT_LT(std::hypot(found.x - truth_.center_x_px, found.y - truth_.center_y_px), 12);
  }
  const PlatePoint anywhere =
      find_ring_centre(image, {300, 300}, pattern_.size / 4.0, first_ring_px / 2);
  EXPECT_LT(std::hypot(anywhere.x - truth_.center_x_px, anywhere.y - truth_.center_y_px), 12);
}

}  // namespace
}  // namespace vokip
