#include "engine/calibrate/picture.h"

#include <algorithm>
#include <cmath>

#include "engine/pictures/log_scale.h"

namespace vokip {

namespace {

const Rgb kNoDataColour{0, 0, 72};
const Rgb kUsedRing{255, 0, 0};
const Rgb kOtherRing{255, 150, 0};
const Rgb kPoint{0, 255, 0};

}  // namespace

Picture calibration_picture(const PlateImage& image, const Calibration& calibration,
                            int largest_side) {
  const int factor =
      std::max(1, (std::max(image.width(), image.height()) + largest_side - 1) / largest_side);
  const int width = image.width() / factor, height = image.height() / factor;
  std::vector<float> block_max(static_cast<std::size_t>(width) * height, 0);
  std::vector<double> positive;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float largest = 0;
      for (int dy = 0; dy < factor; ++dy) {
        for (int dx = 0; dx < factor; ++dx) {
          const float v = image.at(x * factor + dx, y * factor + dy);
          if (v > largest) largest = v;  // no data (NaN) is never larger
        }
      }
      block_max[static_cast<std::size_t>(y) * width + x] = largest;
      if (largest > 0) positive.push_back(largest);
    }
  }
  const LogScale scale(std::move(positive));
  Picture picture(width, height, Picture::Colour::rgb, kNoDataColour);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const float v = block_max[static_cast<std::size_t>(y) * width + x];
      if (!(v > 0)) continue;
      const auto grey =
          static_cast<std::uint8_t>(std::lround(255 * std::clamp(scale(v), 0.0, 1.0)));
      picture.set(x, y, {grey, grey, grey});
    }
  }

  // Each ring traced in steps of well under a picture pixel.
  const Geometry& g = calibration.geometry;
  std::vector<double> two_theta;
  for (double d : calibration.ring_d_angstrom) {
    two_theta.push_back(two_theta_of(d, *g.wavelength_angstrom));
  }
  const RingLocator locate(g, two_theta);
  std::vector<bool> used(two_theta.size(), false);
  for (const RingUse& r : calibration.rings) used[r.index] = true;
  const double pi = 2 * std::asin(1.0);
  const double largest_pixel_um = std::max(g.pixel_x_um, g.pixel_y_um);
  const double smallest_pixel_um = std::min(g.pixel_x_um, g.pixel_y_um);
  const double diagonal_px = std::hypot(image.width(), image.height());
  for (int ring = 0; ring < locate.rings(); ++ring) {
    const double radius_px = locate.untilted_radius_um(ring) / largest_pixel_um;
    if (!(radius_px < 2 * diagonal_px)) continue;
    const int steps = std::max(64, static_cast<int>(4 * pi * 2 * radius_px / factor));
    for (int k = 0; k < steps; ++k) {
      const double phi = 2 * pi * k / steps;
      const double c = std::cos(phi), s = std::sin(phi);
      const double rho = locate.radius_um(ring, c, s);
      if (!std::isfinite(rho) || rho / smallest_pixel_um > 2 * diagonal_px) continue;
      const double x = g.center_x_px + rho * c / g.pixel_x_um;
      const double y = g.center_y_px + rho * s / g.pixel_y_um;
      picture.set(static_cast<int>(std::floor(x / factor)),
                  static_cast<int>(std::floor(y / factor)), used[ring] ? kUsedRing : kOtherRing);
    }
  }
  for (const RingPoint& p : calibration.points) {
    picture.set(static_cast<int>(std::floor(p.x / factor)),
                static_cast<int>(std::floor(p.y / factor)), kPoint);
  }
  return picture;
}

}  // namespace vokip
