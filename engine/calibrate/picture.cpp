#include "engine/calibrate/picture.h"

#include <algorithm>
#include <cmath>

#include "engine/base/constants.h"
#include "engine/geometry/units.h"
#include "engine/pictures/image_scale.h"

namespace vokip {

namespace {

const Rgb kNoDataColour{0, 0, 72};
const Rgb kUsedRing{255, 0, 0};
const Rgb kOtherRing{255, 150, 0};
const Rgb kPoint{0, 255, 0};

}  // namespace

Picture calibration_picture(const PlateImage& image, const Calibration& calibration,
                            int largest_side) {
  const PictureBlocks blocks(image.width(), image.height(), largest_side);
  const int factor = blocks.step, width = blocks.width, height = blocks.height;
  const std::vector<double> block_max =
      block_maxima(blocks, image.width(), image.height(),
                   [&](int column, int row) { return image.at(column, row); });
  std::vector<double> positive;
  for (double v : block_max) {
    if (v > 0) positive.push_back(v);
  }
  const LogScale scale(std::move(positive));
  Picture picture(width, height, Picture::Colour::rgb, kNoDataColour);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double v = block_max[static_cast<std::size_t>(y) * width + x];
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
    two_theta.push_back(two_theta_of_d(d, *g.wavelength_angstrom));
  }
  const RingLocator locate(g, two_theta);
  std::vector<bool> used(two_theta.size(), false);
  for (const RingUse& r : calibration.rings) used[r.index] = true;
  const double largest_pixel_um = std::max(g.pixel_x_um, g.pixel_y_um);
  const double smallest_pixel_um = std::min(g.pixel_x_um, g.pixel_y_um);
  const double diagonal_px = std::hypot(image.width(), image.height());
  for (int ring = 0; ring < locate.rings(); ++ring) {
    const double radius_px = locate.untilted_radius_um(ring) / largest_pixel_um;
    if (!(radius_px < 2 * diagonal_px)) continue;
    const int steps = std::max(64, static_cast<int>(4 * kPi * 2 * radius_px / factor));
    for (int k = 0; k < steps; ++k) {
      const double phi = 2 * kPi * k / steps;
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
