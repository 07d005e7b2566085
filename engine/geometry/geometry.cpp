#include "engine/geometry/geometry.h"

#include <cmath>
#include <cstdio>

#include "engine/error.h"

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

Geometry resolve_geometry(const Mar345Header& header, const GeometryOverrides& o) {
  // What the file (or a .poni in its place) gives.
  std::optional<double> distance = header.distance_mm, px = header.pixel_length_um,
                        py = header.pixel_height_um, cx = header.center_x_px,
                        cy = header.center_y_px, wavelength = header.wavelength_angstrom;
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
  if (!distance) throw Error("no sample-to-plate distance in the header; give --distance MM");
  if (!usable(distance)) throw Error("the distance must be a positive number of mm");
  if (!px || !py) throw Error("no pixel size in the header; give --pixel-size UM");
  if (!usable(px) || !usable(py)) {
    throw Error("the pixel size must be a positive number of micrometres");
  }
  if (!cx || !cy) throw Error("no beam centre in the header; give --center X,Y (pixels)");
  if (!std::isfinite(*cx) || !std::isfinite(*cy)) throw Error("the beam centre must be finite");
  if (wavelength && !usable(wavelength)) {
    throw Error("the wavelength must be a positive number of angstrom");
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
    throw Error("the tilt and its direction must be finite");
  }
  return g;
}

double q_from_two_theta(double two_theta_deg, double wavelength_angstrom) {
  const double pi = 2 * std::asin(1.0);
  return 4 * pi * std::sin(two_theta_deg * pi / 360) / wavelength_angstrom;
}

std::string describe(const Geometry& g) {
  char text[320];
  std::snprintf(text, sizeof text,
                "distance %g mm, beam centre (%g, %g) px, pixel %g x %g um, tilt %g deg, tilt "
                "direction %g deg",
                g.distance_mm, g.center_x_px, g.center_y_px, g.pixel_x_um, g.pixel_y_um, g.tilt_deg,
                g.tilt_direction_deg);
  std::string out = text;
  if (g.rotation_about_beam_deg != 0) {
    std::snprintf(text, sizeof text, ", rotation about the beam %g deg", g.rotation_about_beam_deg);
    out += text;
  }
  if (g.wavelength_angstrom) {
    std::snprintf(text, sizeof text, ", wavelength %g A", *g.wavelength_angstrom);
    out += text;
  }
  return out;
}

}  // namespace vokip
