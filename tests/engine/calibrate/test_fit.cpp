// The geometry fit on points placed on rings of known geometries: exact
// points give the geometry back from a rough start, the wavelength when it
// is fitted, uncertainties that match the scatter of noisy points, and the
// fits it refuses.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/calibrate/calibrants.h"
#include "engine/calibrate/fit.h"
#include "engine/geometry/units.h"

namespace vokip {
namespace {

const double kPi = std::acos(-1.0);
const std::vector<double> kRingD = {4.156826, 2.939320, 2.399945, 2.078413, 1.858989};

Geometry plate(double tilt_deg, double direction_deg) {
  Geometry g;
  g.distance_mm = 180;
  g.center_x_px = 1020.4;
  g.center_y_px = 987.9;
  g.pixel_x_um = 100;
  g.pixel_y_um = 110;
  g.tilt_deg = tilt_deg;
  g.tilt_direction_deg = direction_deg;
  g.wavelength_angstrom = 0.7;
  return g;
}

// Points every 2 degrees on each ring, moved along the line from the centre
// by Gaussian noise of the given size in pixels.
std::vector<RingPoint> points_on_rings(const Geometry& g, double noise_px = 0,
                                       std::uint32_t seed = 1) {
  std::vector<double> two_theta;
  for (double d : kRingD) two_theta.push_back(two_theta_of_d(d, *g.wavelength_angstrom));
  const RingLocator locate(g, two_theta);
  std::mt19937 random(seed);
  std::normal_distribution<double> normal(0, noise_px);
  std::vector<RingPoint> points;
  for (int ring = 0; ring < locate.rings(); ++ring) {
    for (int k = 0; k < 180; ++k) {
      const double phi = 2 * kPi * k / 180;
      const double rho = locate.radius_um(ring, std::cos(phi), std::sin(phi)) +
                         (noise_px > 0 ? normal(random) * g.pixel_x_um : 0);
      RingPoint p;
      p.x = g.center_x_px + rho * std::cos(phi) / g.pixel_x_um;
      p.y = g.center_y_px + rho * std::sin(phi) / g.pixel_y_um;
      p.ring = ring;
      points.push_back(p);
    }
  }
  return points;
}

Geometry rough_start(Geometry g) {
  g.center_x_px += 20;
  g.center_y_px -= 15;
  g.distance_mm *= 1.03;
  g.tilt_deg = 0;
  g.tilt_direction_deg = 0;
  return g;
}

TEST(GeometryFit, ExactPointsGiveTheGeometryBack) {
  for (const Geometry& truth : {plate(0, 0), plate(5, 300), plate(9.5, 45), plate(2, 180)}) {
    const GeometryFit fit =
        fit_geometry(points_on_rings(truth), kRingD, rough_start(truth), FitFreedom());
    const Geometry& g = fit.geometry;
    EXPECT_NEAR(g.center_x_px, truth.center_x_px, 1e-6);
    EXPECT_NEAR(g.center_y_px, truth.center_y_px, 1e-6);
    EXPECT_NEAR(g.distance_mm, truth.distance_mm, 1e-8);
    EXPECT_NEAR(g.tilt_deg, truth.tilt_deg, 1e-8);
    // Tilts come out positive, their direction from 0 to 360 degrees.
    if (truth.tilt_deg > 0) {
      EXPECT_NEAR(g.tilt_direction_deg, truth.tilt_direction_deg, 1e-6);
    }
    EXPECT_LT(fit.rms_deg, 1e-8);
    EXPECT_EQ(fit.residuals_deg.size(), 5u * 180u);
    EXPECT_EQ(*g.wavelength_angstrom, 0.7);
    EXPECT_EQ(g.pixel_y_um, 110);
  }
}

TEST(GeometryFit, WavelengthComesBackWhenFitted) {
  const Geometry truth = plate(3, 70);
  Geometry start = rough_start(truth);
  start.wavelength_angstrom = 0.7 * 1.002;
  FitFreedom with_wavelength;
  with_wavelength.wavelength = true;
  const GeometryFit fit = fit_geometry(points_on_rings(truth), kRingD, start, with_wavelength);
  EXPECT_NEAR(*fit.geometry.wavelength_angstrom, 0.7, 1e-10);
  EXPECT_NEAR(fit.geometry.distance_mm, truth.distance_mm, 1e-7);
  EXPECT_GT(fit.uncertainty.wavelength_angstrom, 0);
  // Held at the wrong value, it leaves residuals.
  EXPECT_GT(fit_geometry(points_on_rings(truth), kRingD, start, FitFreedom()).rms_deg, 1e-4);
}

TEST(GeometryFit, UncertaintiesMatchTheScatterOfNoisyPoints) {
  const Geometry truth = plate(4, 120);
  const int trials = 30;
  double sum_x = 0, sum_xx = 0, sum_t = 0, sum_tt = 0, reported_x = 0, reported_t = 0;
  for (int k = 0; k < trials; ++k) {
    const GeometryFit fit =
        fit_geometry(points_on_rings(truth, 0.3, 100 + k), kRingD, truth, FitFreedom());
    const double dx = fit.geometry.center_x_px - truth.center_x_px;
    const double dt = fit.geometry.tilt_deg - truth.tilt_deg;
    sum_x += dx;
    sum_xx += dx * dx;
    sum_t += dt;
    sum_tt += dt * dt;
    reported_x += fit.uncertainty.center_x_px / trials;
    reported_t += fit.uncertainty.tilt_deg / trials;
  }
  const double scatter_x = std::sqrt((sum_xx - sum_x * sum_x / trials) / (trials - 1));
  const double scatter_t = std::sqrt((sum_tt - sum_t * sum_t / trials) / (trials - 1));
  EXPECT_GT(reported_x, 0.6 * scatter_x);
  EXPECT_LT(reported_x, 1.6 * scatter_x);
  EXPECT_GT(reported_t, 0.6 * scatter_t);
  EXPECT_LT(reported_t, 1.6 * scatter_t);
}

TEST(GeometryFit, FitsThatCannotBeDoneAreRefused) {
  const Geometry truth = plate(5, 300);
  const std::vector<RingPoint> points = points_on_rings(truth);
  auto message_of = [&](const std::vector<RingPoint>& p, const Geometry& start, int iterations) {
    try {
      fit_geometry(p, kRingD, start, FitFreedom(), iterations);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message_of({points.begin(), points.begin() + 5}, truth, 200),
            "too few ring points to fit: 5 found, at least 6 needed");
  EXPECT_EQ(message_of(points, rough_start(truth), 1),
            "the geometry fit did not converge in 1 iterations");
  Geometry no_wavelength = truth;
  no_wavelength.wavelength_angstrom.reset();
  EXPECT_EQ(message_of(points, no_wavelength, 200), "the fit needs a wavelength");
}

}  // namespace
}  // namespace vokip
