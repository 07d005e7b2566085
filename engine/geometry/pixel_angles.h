// Every pixel's polar angle (2-theta) and azimuth for a geometry, from the
// module's angle-map cores, a block of rows at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/geometry/geometry.h"

namespace vokip {

class PixelAngles {
 public:
  PixelAngles(const Geometry& geometry, int width, int height);

  // 2-theta in degrees of rows first .. first + rows - 1 into two_theta and,
  // when azimuth is not null, their azimuths (degrees from +x towards +y, 0
  // to 360, as the module gives them).
  void rows(int first, int rows, double* two_theta, double* azimuth);

  // 2-theta of the listed pixels (row-major indices), the same values as
  // rows() gives them.
  void at(const std::uint32_t* pixels, std::int64_t count, double* two_theta);

  // The whole image's 2-theta, row-major.
  std::vector<double> two_theta_map();

 private:
  Geometry g_;
  int width_, height_;
  std::vector<double> x_, y_;  // pixel-centre coordinates in micrometres
  std::vector<double> listed_x_, listed_y_;
};

// 2-theta in degrees of points anywhere on the plate, given in the pixel
// frame (x along a row, y down the columns; pixel (c, r) has its centre at
// (c + 0.5, r + 0.5)), computed as rows() computes a pixel's.
std::vector<double> point_two_thetas(const Geometry& geometry, const std::vector<double>& x_px,
                                     const std::vector<double>& y_px);

}  // namespace vokip
