#include "engine/geometry/pixel_angles.h"

#include "geometry/azimuth_map.h"
#include "geometry/polar_angle_map.h"

namespace vokip {

namespace {

// Pixel coordinates from the beam centre in micrometres, pixel i's centre at i + 0.5.
std::vector<double> coordinates(int count, double centre_px, double pixel_um) {
  std::vector<double> c(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) c[i] = (i + 0.5 - centre_px) * pixel_um;
  return c;
}

}  // namespace

PixelAngles::PixelAngles(const Geometry& geometry, int width, int height)
    : g_(geometry),
      width_(width),
      height_(height),
      x_(coordinates(width, geometry.center_x_px, geometry.pixel_x_um)),
      y_(coordinates(height, geometry.center_y_px, geometry.pixel_y_um)) {}

void PixelAngles::rows(int first, int rows, double* two_theta, double* azimuth) {
  const std::int64_t n = std::int64_t{rows} * width_;
  // The maps read coordinates per column and per row unless there are as
  // many x values as pixels, which one row has; then y needs one value per
  // pixel too.
  const double* y = y_.data() + first;
  std::int64_t y_count = rows;
  if (rows == 1) {
    listed_y_.assign(static_cast<std::size_t>(width_), y_[first]);
    y = listed_y_.data();
    y_count = width_;
  }
  // The module takes the distance in units a thousand times the coordinates'.
  polar_angle_map(g_.distance_mm, g_.tilt_deg, g_.tilt_direction_deg, x_.data(), width_, y, y_count,
                  two_theta, n, width_);
  if (azimuth) azimuth_map(y, y_count, x_.data(), width_, azimuth, n, width_);
}

void PixelAngles::at(const std::uint32_t* pixels, std::int64_t count, double* two_theta) {
  // One coordinate pair per pixel: the module's element-wise mode, which
  // computes each angle exactly as its grid mode does.
  listed_x_.resize(static_cast<std::size_t>(count));
  listed_y_.resize(static_cast<std::size_t>(count));
  for (std::int64_t k = 0; k < count; ++k) {
    listed_x_[k] = x_[pixels[k] % width_];
    listed_y_[k] = y_[pixels[k] / width_];
  }
  polar_angle_map(g_.distance_mm, g_.tilt_deg, g_.tilt_direction_deg, listed_x_.data(), count,
                  listed_y_.data(), count, two_theta, count, count);
}

std::vector<double> point_two_thetas(const Geometry& g, const std::vector<double>& x_px,
                                     const std::vector<double>& y_px) {
  const std::int64_t n = static_cast<std::int64_t>(x_px.size());
  std::vector<double> x_um(x_px.size()), y_um(y_px.size()), two_theta(x_px.size());
  for (std::size_t k = 0; k < x_px.size(); ++k) {
    x_um[k] = (x_px[k] - g.center_x_px) * g.pixel_x_um;
    y_um[k] = (y_px[k] - g.center_y_px) * g.pixel_y_um;
  }
  // As many x values as outputs: the module's element-wise mode.
  polar_angle_map(g.distance_mm, g.tilt_deg, g.tilt_direction_deg, x_um.data(), n, y_um.data(), n,
                  two_theta.data(), n, n);
  return two_theta;
}

std::vector<double> PixelAngles::two_theta_map() {
  std::vector<double> map(static_cast<std::size_t>(width_) * height_);
  rows(0, height_, map.data(), nullptr);
  return map;
}

}  // namespace vokip
