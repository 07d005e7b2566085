// The laboratory frame of pyFAI's .poni geometry, and the plate's geometry
// (distance along the beam, beam centre, tilt and its direction, as the
// module's angle map takes them) converted to and from it.
//
// A .poni places the plate's pixel at row r, column c at y = (r + 0.5) p1,
// x = (c + 0.5) p2 (metres) and sends it to t = R3 R2 R1 (y - Poni1,
// x - Poni2, Distance), the sample at the origin and the beam along t3.
// 2-theta = atan2(sqrt(t1^2 + t2^2), t3) and the azimuth chi = atan2(t1, t2):
// 0 along +x (columns), 90 degrees along +y (rows). Rot3 turns chi only.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/geometry/geometry.h"

namespace vokip {

struct PoniGeometry {
  double distance_m = 0;            // sample to the plate's plane, along its normal
  double poni1_m = 0, poni2_m = 0;  // the normal's foot on the plate (y, x)
  double rot1_rad = 0, rot2_rad = 0, rot3_rad = 0;
  double pixel1_m = 0, pixel2_m = 0;  // along y (rows) and x (columns)
  std::optional<double> wavelength_m;
  // The detector's size in pixels (Detector_config's max_shape), 0 when not given.
  int rows = 0, columns = 0;
};

// The same geometry in the plate's terms. Throws Error when the plate does
// not face the sample, or a rotation is a quarter turn or more.
Geometry from_poni(const PoniGeometry& poni);
// The same geometry as a .poni, Rot3 from the geometry's rotation about the beam.
PoniGeometry to_poni(const Geometry& geometry);

// Where pixels lie in the laboratory frame.
class LabFrame {
 public:
  explicit LabFrame(const Geometry& geometry);

  struct Pixel {
    double cos_two_theta;  // of the scattered ray
    double cos_two_chi;    // cosine of twice the azimuth
    double cos_normal;     // cosine of the angle between the ray and the plate's normal
    double radius_mm;      // distance of the pixel from the beam, sqrt(t1^2 + t2^2)
  };
  // The pixel whose centre is at (column + 0.5, row + 0.5).
  Pixel at(double column, double row) const;

  // Azimuths chi in degrees, 0 to 360, of the width pixels of a row.
  void chi_row(int row, int width, double* chi_deg) const;
  // The same of the listed pixels (row-major indices in an image of width).
  void chi_of(const std::uint32_t* pixels, std::int64_t count, int width, double* chi_deg) const;

 private:
  void chi_from_components(const double* t1, double* chi_deg, std::int64_t count) const;
  // t = R v of the pixel's centre, v = (y - Poni1, x - Poni2, Distance).
  void ray(double column, double row, double* t1, double* t2, double* t3) const;

  double r_[3][3];
  double poni1_, poni2_, distance_, pixel1_, pixel2_;
};

}  // namespace vokip
