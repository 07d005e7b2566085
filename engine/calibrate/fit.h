// The least-squares fit of a plate's geometry to points on calibrant rings:
// each point's 2-theta under the geometry, as the module computes it, against
// its ring's 2-theta.
#pragma once

#include <vector>

#include "engine/calibrate/ring_points.h"
#include "engine/geometry/geometry.h"

namespace vokip {

// What the fit may change; the pixel size never.
struct FitFreedom {
  bool distance = true;
  bool centre = true;
  bool tilt = true;
  bool wavelength = false;
};

// Standard uncertainties of the fitted values (0 for those held fixed).
struct GeometryUncertainty {
  double distance_mm = 0;
  double center_x_px = 0, center_y_px = 0;
  double tilt_deg = 0, tilt_direction_deg = 0;
  double wavelength_angstrom = 0;
};

struct GeometryFit {
  Geometry geometry;
  GeometryUncertainty uncertainty;
  std::vector<double> residuals_deg;  // per point: its 2-theta less its ring's
  double rms_deg = 0;
  int iterations = 0;
};

// 2-theta in degrees of every point under the geometry.
std::vector<double> two_thetas_of(const std::vector<RingPoint>& points, const Geometry& geometry);

// Fits the geometry, starting from start (which must hold the wavelength),
// to the points, whose rings have the d-spacings ring_d_angstrom. The tilt
// is fitted as the vector tilt x (cos, sin) of its direction, which is
// smooth through no tilt. Throws Error when there are fewer points than
// values to fit, or the fit does not converge within max_iterations or ends
// on a geometry that cannot be (a distance not above zero, a tilt of 45
// degrees or more).
GeometryFit fit_geometry(const std::vector<RingPoint>& points,
                         const std::vector<double>& ring_d_angstrom, const Geometry& start,
                         const FitFreedom& freedom, int max_iterations = 200);

}  // namespace vokip
