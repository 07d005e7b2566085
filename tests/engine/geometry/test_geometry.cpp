// Geometries that cannot be a diffraction experiment are refused, from
// whichever source the value came, each message naming where it came from
// and the likely mistake.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/base/error.h"
#include "engine/geometry/geometry.h"
#include "engine/geometry/lab_frame.h"

namespace vokip {
namespace {

// A plausible header of a 1200 x 1200 image.
GeometryFields header() {
  GeometryFields h;
  h.distance_mm = 150;
  h.pixel_x_um = h.pixel_y_um = 150;
  h.center_x_px = 600;
  h.center_y_px = 590;
  h.wavelength_angstrom = 0.71;
  return h;
}

// A .poni of the same plate.
PoniGeometry poni() {
  PoniGeometry p;
  p.distance_m = 0.15;
  p.poni1_m = 0.0885;
  p.poni2_m = 0.09;
  p.pixel1_m = p.pixel2_m = 150e-6;
  p.wavelength_m = 0.71e-10;
  return p;
}

GeometryOverrides from(const PoniGeometry& p) {
  GeometryOverrides o;
  o.base = from_poni(p);
  return o;
}

// The message and setting of the refusal, or nothing.
std::pair<std::string, Setting> refusal(const GeometryFields& h, const GeometryOverrides& o) {
  try {
    resolve_geometry(h, o, 1200, 1200);
  } catch (const Error& e) {
    return {e.what(), e.setting()};
  }
  return {"", Setting::none};
}

TEST(GeometryPlausibility, ImpossibleValuesAreRefusedWithWhereTheyCameFrom) {
  GeometryFields far = header(), off = header(), huge_pixel = header();
  far.distance_mm = 250000;
  off.center_y_px = -12000;
  huge_pixel.pixel_y_um = 1e30;
  GeometryOverrides near, tilted, centred, short_wave;
  near.distance_mm = 1e-300;
  tilted.tilt_deg = 1e50;
  centred.center_x_px = 1e30;
  short_wave.wavelength_angstrom = 1e-300;
  PoniGeometry in_mm = poni(), far_poni = poni(), big_pixel = poni(), turned = poni();
  in_mm.poni1_m = 172.5;
  far_poni.distance_m = 250;
  big_pixel.pixel1_m = 0.15;
  turned.rot3_rad = 1e50;
  struct Case {
    GeometryFields h;
    GeometryOverrides o;
    std::string error;
    Setting setting;
  };
  for (const Case& c : std::vector<Case>{
           {far,
            {},
            "the header's distance of 250000 mm is beyond 100 m (the distance is in mm)",
            Setting::distance},
           {header(), near, "the distance of 1e-300 mm is under 1 mm (the distance is in mm)",
            Setting::distance},
           {header(), from(far_poni),
            "Distance = 250 m in the .poni puts the plate beyond 100 m from the sample: .poni "
            "lengths are in metres",
            Setting::distance},
           {header(), from(in_mm),
            "Poni1 = 172.5 m in the .poni puts the beam centre 958 image sides from the 1200 x "
            "1200 image: .poni lengths are in metres",
            Setting::center},
           {header(), centred,
            "the beam centre of (1e+30, 590) px lies 8.33e+26 image sides from the 1200 x 1200 "
            "image, more than 10",
            Setting::center},
           {off,
            {},
            "the header's beam centre of (600, -12000) px lies 10.5 image sides from the 1200 x "
            "1200 image, more than 10",
            Setting::center},
           {header(), from(big_pixel),
            "PixelSize1 = 0.15 m in the .poni is a pixel over 10 mm: .poni lengths are in metres",
            Setting::pixel_size},
           {huge_pixel,
            {},
            "the header's pixel size of 150 x 1e+30 um lies outside 1 um to 10 mm (the pixel "
            "size is in micrometres)",
            Setting::pixel_size},
           {header(), tilted, "the tilt of 1e+50 degrees is not under 90", Setting::tilt},
           {header(), from(turned),
            "Rot3 = 1e+50 rad in the .poni is more than a turn: .poni angles are in radians",
            Setting::geometry},
           {header(), short_wave,
            "the wavelength of 1e-300 A lies outside 0.001 to 1000 A (the wavelength is in "
            "angstrom)",
            Setting::wavelength},
       }) {
    EXPECT_EQ(refusal(c.h, c.o), std::make_pair(c.error, c.setting));
  }
  // The same plate passes from either source, and a centre just 10 sides off.
  EXPECT_EQ(refusal(header(), {}).first, "");
  EXPECT_EQ(refusal(header(), from(poni())).first, "");
  off.center_y_px = 600 - 10 * 1200;  // 10 sides from the middle, row 600
  EXPECT_EQ(refusal(off, {}).first, "");
  // Given values are judged before any image is read; a centre waits for its size.
  EXPECT_THROW(check_overrides(tilted), Error);
  EXPECT_NO_THROW(check_overrides(centred));
}

}  // namespace
}  // namespace vokip
