// The .poni geometry and the plate's geometry: converted both ways, every
// pixel's 2-theta, azimuth, solid angle and polarization against a 3-D ray
// computed here from the .poni's own definition (rotations of both signs,
// about the beam too), and closed forms at chosen pixels.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/geometry/lab_frame.h"
#include "engine/geometry/pixel_angles.h"
#include "support/poni_ray.h"

namespace vokip {
namespace {

const double kPi = std::acos(-1.0);

PoniGeometry random_poni(std::mt19937_64& random) {
  std::uniform_real_distribution<double> rotation(-0.15, 0.15), centre(0.1, 0.25),
      distance(0.08, 0.4);
  PoniGeometry p;
  p.distance_m = distance(random);
  p.poni1_m = centre(random);
  p.poni2_m = centre(random);
  p.rot1_rad = rotation(random);
  p.rot2_rad = rotation(random);
  p.rot3_rad = 4 * rotation(random);
  p.pixel1_m = 150e-6;
  p.pixel2_m = 100e-6;
  p.wavelength_m = 0.7e-10;
  return p;
}

TEST(LabFrame, PoniGeometryGivesTheRaysAngleOnEveryPixel) {
  std::mt19937_64 random(11);
  constexpr int kSize = 64;
  for (int trial = 0; trial < 40; ++trial) {
    PoniGeometry p = random_poni(random);
    // Spread the pixels over a real plate's extent.
    p.pixel1_m *= 3450.0 / kSize;
    p.pixel2_m *= 3450.0 / kSize;
    const Geometry g = from_poni(p);
    const std::vector<double> module = PixelAngles(g, kSize, kSize).two_theta_map();
    const LabFrame lab(g);
    double worst_angle = 0, worst_chi = 0;
    for (int row = 0; row < kSize; row += 3) {
      for (int col = 0; col < kSize; col += 3) {
        const PoniRay r = poni_ray(p, col, row);
        worst_angle =
            std::max(worst_angle, std::fabs(module[row * kSize + col] - r.two_theta_deg()));
        std::vector<double> chi(kSize);
        lab.chi_row(row, kSize, chi.data());
        double d = std::fabs(chi[col] - r.chi_deg());
        worst_chi = std::max(worst_chi, std::min(d, 360 - d));
      }
    }
    EXPECT_LT(worst_angle, 1e-9) << "trial " << trial;
    EXPECT_LT(worst_chi, 1e-9) << "trial " << trial;
  }
}

TEST(LabFrame, ConversionsGoBothWays) {
  std::mt19937_64 random(12);
  for (int trial = 0; trial < 200; ++trial) {
    const PoniGeometry p = random_poni(random);
    const PoniGeometry back = to_poni(from_poni(p));
    EXPECT_NEAR(back.distance_m, p.distance_m, 1e-15);
    EXPECT_NEAR(back.poni1_m, p.poni1_m, 1e-15);
    EXPECT_NEAR(back.poni2_m, p.poni2_m, 1e-15);
    EXPECT_NEAR(back.rot1_rad, p.rot1_rad, 1e-13);
    EXPECT_NEAR(back.rot2_rad, p.rot2_rad, 1e-13);
    EXPECT_NEAR(back.rot3_rad, p.rot3_rad, 1e-15);
    EXPECT_EQ(back.pixel1_m, p.pixel1_m);
    EXPECT_NEAR(*back.wavelength_m, *p.wavelength_m, 1e-25);
  }
  // A plate geometry through a .poni and back.
  Geometry g;
  g.distance_mm = 180;
  g.center_x_px = 1725.4;
  g.center_y_px = 1719.8;
  g.pixel_x_um = g.pixel_y_um = 100;
  g.tilt_deg = 3.5;
  g.tilt_direction_deg = -140;
  const Geometry back = from_poni(to_poni(g));
  EXPECT_NEAR(back.distance_mm, 180, 1e-10);
  EXPECT_NEAR(back.center_x_px, 1725.4, 1e-9);
  EXPECT_NEAR(back.center_y_px, 1719.8, 1e-9);
  EXPECT_NEAR(back.tilt_deg, 3.5, 1e-11);
  EXPECT_NEAR(back.tilt_direction_deg, -140, 1e-9);
}

TEST(LabFrame, BeamCentreAndTiltOfAKnownPoni) {
  // Rot1 turns the plate about the rows' axis: the beam meets it
  // Distance tan(Rot1) towards -x from the normal's foot, D = L / cos Rot1.
  PoniGeometry p;
  p.distance_m = 0.2;
  p.poni1_m = 0.1;
  p.poni2_m = 0.12;
  p.rot1_rad = 0.1;
  p.pixel1_m = p.pixel2_m = 1e-4;
  const Geometry g = from_poni(p);
  EXPECT_NEAR(g.distance_mm, 200 / std::cos(0.1), 1e-9);
  EXPECT_NEAR(g.center_x_px, (0.12 - 0.2 * std::tan(0.1)) / 1e-4, 1e-9);
  EXPECT_NEAR(g.center_y_px, 1000, 1e-9);
  EXPECT_NEAR(g.tilt_deg, 0.1 * 180 / kPi, 1e-12);
  EXPECT_NEAR(g.tilt_direction_deg, 180, 1e-12);  // the -x side moves away
  // At the beam centre 2-theta is 0, whatever Rot3.
  p.rot3_rad = 0.7;
  const Geometry turned = from_poni(p);
  EXPECT_EQ(turned.center_x_px, g.center_x_px);
  EXPECT_NEAR(turned.rotation_about_beam_deg, 0.7 * 180 / kPi, 1e-12);
}

TEST(LabFrame, SolidAngleAndPolarizationFollowTheirClosedForms) {
  // An untilted plate 100 mm away with 1 mm pixels, the beam on the corner
  // of pixel (50, 50).
  Geometry g;
  g.distance_mm = 100;
  g.pixel_x_um = g.pixel_y_um = 1000;
  g.center_x_px = g.center_y_px = 50;
  const LabFrame lab(g);
  struct Chosen {
    int column, row;
    double x_mm, y_mm;
  };
  for (const Chosen c : {Chosen{150, 49, 100.5, -0.5}, Chosen{49, 170, -0.5, 120.5},
                         Chosen{80, 90, 30.5, 40.5}, Chosen{50, 50, 0.5, 0.5}}) {
    const LabFrame::Pixel at = lab.at(c.column, c.row);
    const double r = std::hypot(c.x_mm, c.y_mm), length = std::hypot(r, 100.0);
    EXPECT_NEAR(std::pow(at.cos_normal, 3), std::pow(100 / length, 3), 1e-14);
    const double two_theta = std::atan2(r, 100.0), chi = std::atan2(c.y_mm, c.x_mm);
    EXPECT_NEAR(at.cos_two_theta, std::cos(two_theta), 1e-14);
    EXPECT_NEAR(at.cos_two_chi, std::cos(2 * chi), 1e-12);
    EXPECT_NEAR(at.radius_mm, r, 1e-11);
  }
  // Tilted by 30 degrees towards +x: a pixel on the axis across the tilt at
  // x lies x cos 30 from the beam and x sin 30 further along it; its ray
  // meets the plate's normal at the angle whose cosine is L / length.
  g.tilt_deg = 30;
  g.center_x_px = g.center_y_px = 50.5;
  const LabFrame tilted(g);
  const LabFrame::Pixel at = tilted.at(150, 50);  // x = 100 mm
  const double along = 100 + 100 * 0.5, across = 100 * std::cos(kPi / 6);
  const double length = std::hypot(along, across);
  EXPECT_NEAR(at.cos_normal, 100 * std::cos(kPi / 6) / length, 1e-14);
  EXPECT_NEAR(at.cos_two_theta, along / length, 1e-14);
  EXPECT_NEAR(at.cos_two_chi, 1, 1e-14);  // chi = 0: along +x
  EXPECT_NEAR(at.radius_mm, across, 1e-11);
}

}  // namespace
}  // namespace vokip
