// Geometries that cannot be a diffraction experiment are refused, from
// whichever source the value came, each message naming where it came from
// and the likely mistake; where each value of a geometry came from.
#include <gtest/gtest.h>

#include <functional>
#include <string>
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

struct Refusal {
  std::string error;
  Setting setting = Setting::none;
};

Refusal refusal(const GeometryFields& h, const GeometryOverrides& o) {
  try {
    resolve_geometry(h, o, 1200, 1200);
  } catch (const Error& e) {
    return {e.what(), e.setting()};
  }
  return {};
}

TEST(GeometryPlausibility, ImpossibleValuesAreRefusedWithWhereTheyCameFrom) {
  struct Case {
    std::function<void(GeometryFields*, GeometryOverrides*, PoniGeometry*)> change;
    std::string error;
    Setting setting;
  };
  const std::vector<Case> cases = {
      {[](GeometryFields* h, GeometryOverrides*, PoniGeometry*) { h->distance_mm = 250000; },
       "the header's distance of 250000 mm is beyond 100 m (the distance is in mm)",
       Setting::distance},
      {[](GeometryFields*, GeometryOverrides* o, PoniGeometry*) { o->distance_mm = 1e-300; },
       "the distance of 1e-300 mm is under 1 mm (the distance is in mm)", Setting::distance},
      {[](GeometryFields*, GeometryOverrides*, PoniGeometry* p) { p->distance_m = 250; },
       "Distance = 250 m in the .poni puts the plate beyond 100 m from the sample: .poni lengths "
       "are in metres",
       Setting::distance},
      {[](GeometryFields*, GeometryOverrides*, PoniGeometry* p) { p->poni1_m = 172.5; },
       "Poni1 = 172.5 m in the .poni puts the beam centre 958 image sides from the 1200 x 1200 "
       "image: .poni lengths are in metres",
       Setting::center},
      {[](GeometryFields*, GeometryOverrides*, PoniGeometry* p) { p->pixel1_m = 0.15; },
       "PixelSize1 = 0.15 m in the .poni is a pixel over 10 mm: .poni lengths are in metres",
       Setting::pixel_size},
      {[](GeometryFields*, GeometryOverrides*, PoniGeometry* p) { p->wavelength_m = 0.71; },
       "Wavelength = 0.71 m in the .poni lies beyond 1000 A: .poni lengths are in metres",
       Setting::wavelength},
      {[](GeometryFields*, GeometryOverrides*, PoniGeometry* p) { p->rot3_rad = 1e50; },
       "Rot3 = 1e+50 rad in the .poni is more than a turn: .poni angles are in radians",
       Setting::geometry},
      {[](GeometryFields*, GeometryOverrides* o, PoniGeometry*) { o->tilt_deg = 1e50; },
       "the tilt of 1e+50 degrees is not under 90", Setting::tilt},
      {[](GeometryFields*, GeometryOverrides* o, PoniGeometry*) { o->tilt_direction_deg = -400; },
       "the tilt direction of -400 degrees lies beyond -360 to 360", Setting::tilt},
      {[](GeometryFields*, GeometryOverrides* o, PoniGeometry*) { o->center_x_px = 1e30; },
       "the beam centre of (1e+30, 590) px lies 8.33e+26 image sides from the 1200 x 1200 image, "
       "more than 10",
       Setting::center},
      {[](GeometryFields* h, GeometryOverrides*, PoniGeometry*) { h->center_y_px = -12000; },
       "the header's beam centre of (600, -12000) px lies 10.5 image sides from the 1200 x 1200 "
       "image, more than 10",
       Setting::center},
      {[](GeometryFields* h, GeometryOverrides*, PoniGeometry*) { h->pixel_y_um = 1e30; },
       "the header's pixel size of 150 x 1e+30 um lies outside 1 um to 10 mm (the pixel size is "
       "in micrometres)",
       Setting::pixel_size},
      {[](GeometryFields*, GeometryOverrides* o, PoniGeometry*) { o->wavelength_angstrom = 1e300; },
       "the wavelength of 1e+300 A lies outside 0.001 to 1000 A (the wavelength is in angstrom)",
       Setting::wavelength},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    GeometryFields h = header();
    GeometryOverrides o;
    PoniGeometry p = poni();
    c.change(&h, &o, &p);
    if (c.error.rfind("the ", 0) != 0) o.base = from_poni(p);  // a .poni's message
    const Refusal r = refusal(h, o);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.setting, c.setting);
  }
  // The same geometries, unchanged, pass; so does a centre just within 10 sides.
  GeometryOverrides o;
  EXPECT_EQ(refusal(header(), o).error, "");
  o.base = from_poni(poni());
  EXPECT_EQ(refusal(header(), o).error, "");
  GeometryFields h = header();
  h.center_x_px = 600 + 10 * 1200;
  EXPECT_EQ(refusal(h, GeometryOverrides()).error, "");
  // A .poni's rotation of a quarter turn or more is degrees taken for radians.
  PoniGeometry p = poni();
  p.rot1_rad = 1e50;
  try {
    from_poni(p);
    ADD_FAILURE() << "Rot1 1e50 taken";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "Rot1 = 1e+50 rad in the .poni is a quarter turn or more: .poni angles are in "
                 "radians");
  }
}

TEST(GeometryPlausibility, GivenValuesAreJudgedBeforeAnyHeader) {
  GeometryOverrides o;
  o.center_x_px = o.center_y_px = 5;  // the rest left to each header
  EXPECT_NO_THROW(check_overrides(o));
  o.tilt_deg = 95;
  EXPECT_THROW(check_overrides(o), Error);
}

TEST(GeometrySources, EachValueSaysWhereItCameFrom) {
  GeometryFields h = header();
  h.pixel_size_from_scan_mode = true;
  GeometryOverrides o;
  o.wavelength_angstrom = 1;
  EXPECT_EQ(describe(sources_of(h, o)),
            "the header (distance, beam centre); the scan mode of the image's size, the header "
            "giving none (pixel size); given (wavelength); none given (tilt)");
  o.base = from_poni(poni());
  o.distance_mm = 200;
  EXPECT_EQ(describe(sources_of(h, o)),
            "the .poni (beam centre, pixel size, tilt); given (distance, wavelength)");
}

}  // namespace
}  // namespace vokip
