// A pixel's ray computed straight from the .poni's definition, for tests of
// the geometry: t = R3 R2 R1 (y - Poni1, x - Poni2, Distance), with the
// rotation matrices written out as the format defines them.
#pragma once

#include <cmath>

#include "engine/geometry/lab_frame.h"

namespace vokip {

struct PoniRay {
  double t1, t2, t3;
  double length() const { return std::sqrt(t1 * t1 + t2 * t2 + t3 * t3); }
  double two_theta_rad() const { return std::atan2(std::hypot(t1, t2), t3); }
  double chi_rad() const { return std::atan2(t1, t2); }
  double two_theta_deg() const { return two_theta_rad() * 180 / std::acos(-1.0); }
  // 0 to 360.
  double chi_deg() const {
    const double chi = chi_rad() * 180 / std::acos(-1.0);
    return chi < 0 ? chi + 360 : chi;
  }
};

inline PoniRay poni_ray(const PoniGeometry& p, int column, int row) {
  const double v[3] = {(row + 0.5) * p.pixel1_m - p.poni1_m,
                       (column + 0.5) * p.pixel2_m - p.poni2_m, p.distance_m};
  const double c1 = std::cos(p.rot1_rad), s1 = std::sin(p.rot1_rad);
  const double c2 = std::cos(p.rot2_rad), s2 = std::sin(p.rot2_rad);
  const double c3 = std::cos(p.rot3_rad), s3 = std::sin(p.rot3_rad);
  // R1 first, then R2, then R3.
  const double a[3] = {v[0], c1 * v[1] + s1 * v[2], -s1 * v[1] + c1 * v[2]};
  const double b[3] = {c2 * a[0] - s2 * a[2], a[1], s2 * a[0] + c2 * a[2]};
  return {c3 * b[0] - s3 * b[1], s3 * b[0] + c3 * b[1], b[2]};
}

}  // namespace vokip
