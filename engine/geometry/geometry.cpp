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
         wavelength_angstrom == o.wavelength_angstrom;
}

Geometry resolve_geometry(const Mar345Header& header, const GeometryOverrides& o) {
  const std::optional<double> distance = chosen(o.distance_mm, header.distance_mm);
  const std::optional<double> px = chosen(o.pixel_x_um, header.pixel_length_um);
  const std::optional<double> py = chosen(o.pixel_y_um, header.pixel_height_um);
  const std::optional<double> cx = chosen(o.center_x_px, header.center_x_px);
  const std::optional<double> cy = chosen(o.center_y_px, header.center_y_px);
  const std::optional<double> wavelength =
      chosen(o.wavelength_angstrom, header.wavelength_angstrom);
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
  g.tilt_deg = o.tilt_deg.value_or(0);
  g.tilt_direction_deg = o.tilt_direction_deg.value_or(0);
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
  if (g.wavelength_angstrom) {
    std::snprintf(text, sizeof text, ", wavelength %g A", *g.wavelength_angstrom);
    out += text;
  }
  return out;
}

}  // namespace vokip
