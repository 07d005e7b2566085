#include "engine/geometry/geometry.h"

#include <cmath>

#include "engine/base/error.h"
#include "engine/base/text.h"

namespace vokip {

namespace {

bool usable(const std::optional<double>& v) {
  return v && std::isfinite(*v) && *v > 0;
}

template <class T>
std::optional<T> chosen(const std::optional<T>& override_value,
                        const std::optional<T>& file_value) {
  return override_value ? override_value : file_value;
}

}  // namespace

bool Geometry::operator==(const Geometry& o) const {
  return distance_mm == o.distance_mm && center_x_px == o.center_x_px &&
         center_y_px == o.center_y_px && pixel_x_um == o.pixel_x_um && pixel_y_um == o.pixel_y_um &&
         tilt_deg == o.tilt_deg && tilt_direction_deg == o.tilt_direction_deg &&
         rotation_about_beam_deg == o.rotation_about_beam_deg &&
         wavelength_angstrom == o.wavelength_angstrom;
}

Geometry resolve_geometry(const GeometryFields& header, const GeometryOverrides& o) {
  // What the file (or a .poni in its place) gives.
  std::optional<double> distance = header.distance_mm, px = header.pixel_x_um,
                        py = header.pixel_y_um, cx = header.center_x_px, cy = header.center_y_px,
                        wavelength = header.wavelength_angstrom;
  double tilt = 0, tilt_direction = 0, rotation = 0;
  if (o.base) {
    const Geometry& b = *o.base;
    distance = b.distance_mm;
    px = b.pixel_x_um;
    py = b.pixel_y_um;
    cx = b.center_x_px;
    cy = b.center_y_px;
    tilt = b.tilt_deg;
    tilt_direction = b.tilt_direction_deg;
    rotation = b.rotation_about_beam_deg;
    if (b.wavelength_angstrom) wavelength = b.wavelength_angstrom;
  }
  distance = chosen(o.distance_mm, distance);
  px = chosen(o.pixel_x_um, px);
  py = chosen(o.pixel_y_um, py);
  cx = chosen(o.center_x_px, cx);
  cy = chosen(o.center_y_px, cy);
  wavelength = chosen(o.wavelength_angstrom, wavelength);
  if (!distance) throw Error("the sample-to-plate distance is not known", Setting::distance);
  if (!usable(distance)) {
    throw Error("the distance must be a positive number of mm", Setting::distance);
  }
  if (!px || !py) throw Error("the pixel size is not known", Setting::pixel_size);
  if (!usable(px) || !usable(py)) {
    throw Error("the pixel size must be a positive number of micrometres", Setting::pixel_size);
  }
  if (!cx || !cy) throw Error("the beam centre is not known", Setting::center);
  if (!std::isfinite(*cx) || !std::isfinite(*cy)) {
    throw Error("the beam centre must be finite", Setting::center);
  }
  if (wavelength && !usable(wavelength)) {
    throw Error("the wavelength must be a positive number of angstrom", Setting::wavelength);
  }
  Geometry g;
  g.distance_mm = *distance;
  g.pixel_x_um = *px;
  g.pixel_y_um = *py;
  g.center_x_px = *cx;
  g.center_y_px = *cy;
  g.tilt_deg = o.tilt_deg.value_or(tilt);
  g.tilt_direction_deg = o.tilt_direction_deg.value_or(tilt_direction);
  g.rotation_about_beam_deg = rotation;
  g.wavelength_angstrom = wavelength;
  if (!std::isfinite(g.tilt_deg) || !std::isfinite(g.tilt_direction_deg)) {
    throw Error("the tilt and its direction must be finite", Setting::tilt);
  }
  return g;
}

std::string describe(const Geometry& g) {
  std::string out = printf_string(
      "distance %g mm, beam centre (%g, %g) px, pixel %g x %g um, tilt %g deg, tilt direction %g "
      "deg",
      g.distance_mm, g.center_x_px, g.center_y_px, g.pixel_x_um, g.pixel_y_um, g.tilt_deg,
      g.tilt_direction_deg);
  if (g.rotation_about_beam_deg != 0) {
    out += printf_string(", rotation about the beam %g deg", g.rotation_about_beam_deg);
  }
  if (g.wavelength_angstrom) out += printf_string(", wavelength %g A", *g.wavelength_angstrom);
  return out;
}

}  // namespace vokip
