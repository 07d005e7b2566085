// The profile's SVG plot: one line per run of filled bins, text escaped.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "engine/pictures/pictures.h"

namespace vokip {
namespace {

TEST(ProfileSvg, DrawsEachRunOfFilledBinsAsALine) {
  Geometry g;
  g.distance_mm = 150;
  g.pixel_x_um = g.pixel_y_um = 150;
  Profile p;
  p.centre = {10, 10.5, 11, 11.5};
  p.bin_width = 0.5;
  p.count = {4, 0, 2, 1};
  p.value = {120.5, std::nan(""), 99.25, 50};
  const std::string svg =
      profile_svg(p, g, ProfileOrigin{"run & 7.mar2300", "vokip-reduce", "", "", ""});
  EXPECT_EQ(svg.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\"", 0), 0u);
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
  EXPECT_NE(svg.find("run &amp; 7.mar2300"), std::string::npos);
  EXPECT_EQ(svg.find("run & 7"), std::string::npos);
  // Bin 0 alone, then bins 2 and 3: two lines.
  std::size_t lines = 0;
  for (std::size_t at = svg.find("<polyline"); at != std::string::npos;
       at = svg.find("<polyline", at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 2u);
  EXPECT_NE(svg.find("2-theta (degrees)"), std::string::npos);
}

}  // namespace
}  // namespace vokip
