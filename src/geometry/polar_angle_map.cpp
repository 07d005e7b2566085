#include "geometry/polar_angle_map.h"

#include <cmath>

#include "geometry/coordinate_addressing.h"
#include "geometry/vector_atan.h"

namespace {

// A tilted plate seen from the sample. A point at (x, y) lies r from the tilt
// axis and t along it; tilting moves it r·sin τ along the beam and leaves it
// r·cos τ from the beam sideways. Each block is computed in two passes: the
// tangent of the polar angle, then its arc tangent in degrees.
class TiltedPlate {
 public:
  TiltedPlate(double distance, double tilt, double direction) {
    const double pi = 2 * std::asin(1.0);
    const double to_radians = pi / 180;
    beam_distance_ = 1000 * distance;
    cos_tilt_ = std::cos(tilt * to_radians);
    sin_tilt_ = std::sin(tilt * to_radians);
    cos_direction_ = std::cos(direction * to_radians);
    sin_direction_ = std::sin(direction * to_radians);
    to_degrees_ = 180 / pi;
  }

  void pairs(const double* x, const double* y, double* out, std::int64_t count) const {
    for (std::int64_t i = 0; i < count; ++i) {
      out[i] = tangent(x[i], y[i] * sin_direction_, y[i] * cos_direction_);
    }
    tangents_to_degrees(out, count);
  }

  // The y terms of r and t are the same along a grid row.
  void row(const double* x, double y, double* out, std::int64_t count) const {
    const double y_sin_direction = y * sin_direction_;
    const double y_cos_direction = y * cos_direction_;
    for (std::int64_t i = 0; i < count; ++i) {
      out[i] = tangent(x[i], y_sin_direction, y_cos_direction);
    }
    tangents_to_degrees(out, count);
  }

 private:
  // sqrt(a / b) with r = x·cos ρ + y·sin ρ, t = y·cos ρ − x·sin ρ,
  // a = t² + (r·cos τ)², b = (r·sin τ + D)².
  double tangent(double x, double y_sin_direction, double y_cos_direction) const {
    const double r = x * cos_direction_ + y_sin_direction;
    const double t = y_cos_direction - x * sin_direction_;
    const double r_sideways = r * cos_tilt_;
    const double along_beam = r * sin_tilt_ + beam_distance_;
    const double a = t * t + r_sideways * r_sideways;
    const double b = along_beam * along_beam;
    return std::sqrt(a / b);
  }

  void tangents_to_degrees(double* values, std::int64_t count) const {
    atan_each(values, count);
    for (std::int64_t i = 0; i < count; ++i) values[i] *= to_degrees_;
  }

  double beam_distance_;
  double cos_tilt_, sin_tilt_;
  double cos_direction_, sin_direction_;
  double to_degrees_;
};

}  // namespace

bool polar_angle_map(double distance, double tilt, double direction, const double* x,
                     std::int64_t x_count, const double* y, std::int64_t y_count, double* output,
                     std::int64_t n, std::int64_t w) {
  const TiltedPlate plate(distance, tilt, direction);
  return fill_coordinate_map(plate, x_count, x, x_count, y, y_count, output, n, w);
}
