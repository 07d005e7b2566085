#include "geometry/azimuth_map.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "geometry/coordinate_addressing.h"
#include "geometry/vector_atan.h"

namespace {

// A coordinate on an axis is moved one unit off it, so atan2 never sees a zero.
double off_axis(double coordinate) {
  return coordinate == 0 ? 1.0 : coordinate;
}

// The azimuth is atan2(−y', −x') in degrees plus 180: atan2 of the point
// reflected through the origin lies in [−180, 180], and adding 180 turns it
// into the point's own angle in [0, 360]. Each block is computed in passes:
// the reflected coordinates, their atan2, then degrees.
class Azimuth {
 public:
  Azimuth() : to_degrees_(180 / (2 * std::asin(1.0))) {}

  void pairs(const double* x, const double* y, double* out, std::int64_t count) const {
    std::array<double, kCoordinateBlock> reflected_y{};
    for (std::int64_t i = 0; i < count; ++i) {
      reflected_y[i] = -off_axis(y[i]);
      out[i] = -off_axis(x[i]);
    }
    reflected_to_degrees(reflected_y.data(), out, count);
  }

  void row(const double* x, double y, double* out, std::int64_t count) const {
    std::array<double, kCoordinateBlock> reflected_y{};
    std::fill(reflected_y.begin(), reflected_y.begin() + count, -off_axis(y));
    for (std::int64_t i = 0; i < count; ++i) out[i] = -off_axis(x[i]);
    reflected_to_degrees(reflected_y.data(), out, count);
  }

 private:
  // out holds the reflected x on entry and the azimuth on return.
  void reflected_to_degrees(const double* reflected_y, double* out, std::int64_t count) const {
    atan2_each(reflected_y, out, out, count);
    for (std::int64_t i = 0; i < count; ++i) out[i] = out[i] * to_degrees_ + 180;
  }

  double to_degrees_;
};

}  // namespace

bool azimuth_map(const double* y, std::int64_t y_count, const double* x, std::int64_t x_count,
                 double* output, std::int64_t n, std::int64_t w) {
  return fill_coordinate_map(Azimuth(), y_count, x, x_count, y, y_count, output, n, w);
}
