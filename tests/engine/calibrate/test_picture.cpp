// The picture of a calibration: the image reduced and log-scaled, the
// fitted rings and the points drawn where they lie.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "engine/calibrate/picture.h"

namespace vokip {
namespace {

TEST(CalibrationPicture, ImageRingsAndPointsWhereTheyLie) {
  // 300 x 300 pixels of 100 um, 100 mm away: no data beyond 140 px from the
  // middle; 100 counts, 1000 in a band 60 to 70 px out.
  const int size = 300;
  std::vector<float> values(size * size);
  for (int r = 0; r < size; ++r) {
    for (int c = 0; c < size; ++c) {
      const double radius = std::hypot(c + 0.5 - 150, r + 0.5 - 150);
      values[r * size + c] = radius > 140                 ? PlateImage::kNoData
                             : radius > 60 && radius < 70 ? 1000.0f
                                                          : 100.0f;
    }
  }
  Calibration cal;
  Geometry& g = cal.geometry;
  g.distance_mm = 100;
  g.center_x_px = g.center_y_px = 150;
  g.pixel_x_um = g.pixel_y_um = 100;
  g.wavelength_angstrom = 1.0;
  // Rings 40 and 100 px from the centre: tan 2theta = 0.04 and 0.1.
  for (double radius_px : {40.0, 100.0}) {
    cal.ring_d_angstrom.push_back(1.0 / (2 * std::sin(std::atan(radius_px / 1000) / 2)));
  }
  cal.rings.push_back({1, cal.ring_d_angstrom[1], 0, 10, 0});
  RingPoint point;
  point.x = 150;
  point.y = 250.4;
  point.ring = 1;
  cal.points.push_back(point);

  const Picture picture = calibration_picture(PlateImage(size, size, values), cal, 150);
  ASSERT_EQ(picture.width, 150);
  ASSERT_EQ(picture.height, 150);
  const Rgb corner = picture.at(0, 0), background = picture.at(75, 90), band = picture.at(75, 107);
  EXPECT_EQ(corner.r, 0);
  EXPECT_EQ(corner.b, 72);  // no data
  EXPECT_EQ(background.r, background.g);
  EXPECT_EQ(background.g, background.b);
  EXPECT_GT(band.g, background.g + 100);
  const Rgb used_ring = picture.at(125, 75), other_ring = picture.at(95, 75);
  EXPECT_EQ(used_ring.r, 255);
  EXPECT_EQ(used_ring.g, 0);
  EXPECT_EQ(other_ring.r, 255);
  EXPECT_EQ(other_ring.g, 150);
  const Rgb on_point = picture.at(75, 125);
  EXPECT_EQ(on_point.g, 255);
  EXPECT_EQ(on_point.r, 0);
}

}  // namespace
}  // namespace vokip
