#include "engine/geometry/lab_frame.h"

#include <cmath>
#include <vector>

#include "engine/base/constants.h"
#include "engine/base/error.h"
#include "engine/base/text.h"
#include "geometry/vector_atan.h"

namespace vokip {

namespace {

// R3 R2 R1 of the .poni's three rotations.
void rotation(double rot1, double rot2, double rot3, double r[3][3]) {
  const double c1 = std::cos(rot1), s1 = std::sin(rot1);
  const double c2 = std::cos(rot2), s2 = std::sin(rot2);
  const double c3 = std::cos(rot3), s3 = std::sin(rot3);
  const double r1[3][3] = {{1, 0, 0}, {0, c1, s1}, {0, -s1, c1}};
  const double r2[3][3] = {{c2, 0, -s2}, {0, 1, 0}, {s2, 0, c2}};
  const double r3[3][3] = {{c3, -s3, 0}, {s3, c3, 0}, {0, 0, 1}};
  double r21[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r21[i][j] = r2[i][0] * r1[0][j] + r2[i][1] * r1[1][j] + r2[i][2] * r1[2][j];
    }
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r[i][j] = r3[i][0] * r21[0][j] + r3[i][1] * r21[1][j] + r3[i][2] * r21[2][j];
    }
  }
}

}  // namespace

// The plate's column axis turns to R e2 and its row axis to R e1; along the
// beam they rise by R[2][1] = -cos Rot2 sin Rot1 and R[2][0] = sin Rot2,
// which the module writes sin(tilt) (cos, sin)(direction). The plate's normal
// R e3 meets the beam at the tilt: cos(tilt) = R[2][2] = cos Rot1 cos Rot2.
// The beam meets the plate at v = s R^T e3 with v3 = Distance.
Geometry from_poni(const PoniGeometry& p) {
  // Rotations of a quarter turn or more are degrees taken for radians.
  const std::pair<const char*, double> rotations[] = {{"Rot1", p.rot1_rad}, {"Rot2", p.rot2_rad}};
  for (const auto& [name, rad] : rotations) {
    if (!(std::fabs(rad) < kPi / 2)) {
      throw Error(
          printf_string("%s = %g rad in the .poni is a quarter turn or more: .poni angles "
                        "are in radians",
                        name, rad));
    }
  }
  double r[3][3];
  rotation(p.rot1_rad, p.rot2_rad, p.rot3_rad, r);
  const double rise_x = r[2][1], rise_y = r[2][0], cos_tilt = r[2][2];
  if (!(cos_tilt > 0)) throw Error("the .poni's rotations turn the plate away from the sample");
  const double beam_distance = p.distance_m / cos_tilt;
  const double beam_y = p.poni1_m + beam_distance * rise_y;
  const double beam_x = p.poni2_m + beam_distance * rise_x;

  Geometry g;
  g.distance_mm = beam_distance * 1e3;
  g.pixel_x_um = p.pixel2_m * 1e6;
  g.pixel_y_um = p.pixel1_m * 1e6;
  g.center_x_px = beam_x / p.pixel2_m;
  g.center_y_px = beam_y / p.pixel1_m;
  const double sin_tilt = std::hypot(rise_x, rise_y);
  g.tilt_deg = std::atan2(sin_tilt, cos_tilt) / kDegree;
  g.tilt_direction_deg = sin_tilt > 0 ? std::atan2(rise_y, rise_x) / kDegree : 0;
  g.rotation_about_beam_deg = p.rot3_rad / kDegree;
  if (p.wavelength_m) g.wavelength_angstrom = *p.wavelength_m * 1e10;
  return g;
}

PoniGeometry to_poni(const Geometry& g) {
  const double tilt = g.tilt_deg * kDegree, direction = g.tilt_direction_deg * kDegree;
  const double rise_x = std::sin(tilt) * std::cos(direction);
  const double rise_y = std::sin(tilt) * std::sin(direction);
  PoniGeometry p;
  p.rot2_rad = std::asin(rise_y);
  p.rot1_rad = std::asin(-rise_x / std::cos(p.rot2_rad));
  p.rot3_rad = g.rotation_about_beam_deg * kDegree;
  const double beam_distance = g.distance_mm * 1e-3;
  p.distance_m = beam_distance * std::cos(tilt);
  p.pixel1_m = g.pixel_y_um * 1e-6;
  p.pixel2_m = g.pixel_x_um * 1e-6;
  p.poni1_m = g.center_y_px * p.pixel1_m - beam_distance * rise_y;
  p.poni2_m = g.center_x_px * p.pixel2_m - beam_distance * rise_x;
  if (g.wavelength_angstrom) p.wavelength_m = *g.wavelength_angstrom * 1e-10;
  return p;
}

LabFrame::LabFrame(const Geometry& geometry) {
  const PoniGeometry p = to_poni(geometry);
  rotation(p.rot1_rad, p.rot2_rad, p.rot3_rad, r_);
  poni1_ = p.poni1_m;
  poni2_ = p.poni2_m;
  distance_ = p.distance_m;
  pixel1_ = p.pixel1_m;
  pixel2_ = p.pixel2_m;
}

void LabFrame::ray(double column, double row, double* t1, double* t2, double* t3) const {
  const double v0 = (row + 0.5) * pixel1_ - poni1_;
  const double v1 = (column + 0.5) * pixel2_ - poni2_;
  const double v2 = distance_;
  *t1 = r_[0][0] * v0 + r_[0][1] * v1 + r_[0][2] * v2;
  *t2 = r_[1][0] * v0 + r_[1][1] * v1 + r_[1][2] * v2;
  *t3 = r_[2][0] * v0 + r_[2][1] * v1 + r_[2][2] * v2;
}

LabFrame::Pixel LabFrame::at(double column, double row) const {
  double t1, t2, t3;
  ray(column, row, &t1, &t2, &t3);
  const double transverse_squared = t1 * t1 + t2 * t2;
  const double length = std::sqrt(transverse_squared + t3 * t3);
  Pixel p;
  p.cos_two_theta = t3 / length;
  // cos 2chi = cos^2 chi - sin^2 chi, chi measured from t2 towards t1.
  p.cos_two_chi = transverse_squared > 0 ? (t2 * t2 - t1 * t1) / transverse_squared : 1;
  // The ray's component along the plate's normal is the .poni's distance.
  p.cos_normal = distance_ / length;
  p.radius_mm = std::sqrt(transverse_squared) * 1e3;
  return p;
}

void LabFrame::chi_row(int row, int width, double* chi_deg) const {
  std::vector<double> t1(static_cast<std::size_t>(width));
  for (int c = 0; c < width; ++c) {
    double t3;
    ray(c, row, &t1[c], &chi_deg[c], &t3);
  }
  chi_from_components(t1.data(), chi_deg, width);
}

void LabFrame::chi_of(const std::uint32_t* pixels, std::int64_t count, int width,
                      double* chi_deg) const {
  std::vector<double> t1(static_cast<std::size_t>(count));
  for (std::int64_t k = 0; k < count; ++k) {
    double t3;
    ray(pixels[k] % width, pixels[k] / width, &t1[k], &chi_deg[k], &t3);
  }
  chi_from_components(t1.data(), chi_deg, count);
}

// chi = atan2(t1, t2) in degrees, 0 to 360; t2 comes in chi_deg.
void LabFrame::chi_from_components(const double* t1, double* chi_deg, std::int64_t count) const {
  atan2_each(t1, chi_deg, chi_deg, count);
  for (std::int64_t k = 0; k < count; ++k) {
    double chi = chi_deg[k] / kDegree;
    if (chi < 0) chi += 360;
    if (chi >= 360) chi -= 360;
    chi_deg[k] = chi;
  }
}

}  // namespace vokip
