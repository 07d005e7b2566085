#include "engine/geometry/geometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/geometry/lab_frame.h"

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

template <class T>
Source source(const std::optional<T>& given, bool from_poni, const std::optional<T>& in_header) {
  if (given) return Source::given;
  if (from_poni) return Source::poni;
  return in_header ? Source::header : Source::none;
}

// The limits of a geometry that can be a diffraction experiment.
constexpr double kNearestMm = 1, kFarthestMm = 1e5;
constexpr double kSmallestPixelUm = 1, kLargestPixelUm = 1e4;
constexpr double kShortestAngstrom = 1e-3, kLongestAngstrom = 1e3;
constexpr double kFarthestCentreSides = 10;  // image sides from the image's middle
constexpr double kLargestTiltDeg = 90, kLargestTurnDeg = 360;

// "the header's distance of 250000 mm" or "the distance of 250000 mm".
std::string named(Source from, const char* what, const std::string& value) {
  return std::string(from == Source::header ? "the header's " : "the ") + what + " of " + value;
}

const char* const kInMetres = ": .poni lengths are in metres";

void check_plausible(const Geometry& g, const GeometrySources& from, int width, int height) {
  const PoniGeometry poni = to_poni(g);
  const double d = g.distance_mm;
  if (!(d >= kNearestMm && d <= kFarthestMm)) {
    const char* where = d < kNearestMm ? "under 1 mm" : "beyond 100 m";
    if (from.distance == Source::poni) {
      throw Error(printf_string("Distance = %g m in the .poni puts the plate %s from the sample%s",
                                poni.distance_m, where, d > kFarthestMm ? kInMetres : ""),
                  Setting::distance);
    }
    throw Error(named(from.distance, "distance", printf_string("%g mm", d)) + " is " + where +
                    " (the distance is in mm)",
                Setting::distance);
  }
  auto pixel_ok = [](double um) { return um >= kSmallestPixelUm && um <= kLargestPixelUm; };
  if (!pixel_ok(g.pixel_x_um) || !pixel_ok(g.pixel_y_um)) {
    if (from.pixel_size == Source::poni) {
      const bool y_off = !pixel_ok(g.pixel_y_um);
      const double um = y_off ? g.pixel_y_um : g.pixel_x_um;
      throw Error(printf_string("PixelSize%d = %g m in the .poni is a pixel %s%s", y_off ? 1 : 2,
                                um * 1e-6, um < kSmallestPixelUm ? "under 1 um" : "over 10 mm",
                                um > kLargestPixelUm ? kInMetres : ""),
                  Setting::pixel_size);
    }
    throw Error(named(from.pixel_size, "pixel size",
                      printf_string("%g x %g um", g.pixel_x_um, g.pixel_y_um)) +
                    " lies outside 1 um to 10 mm (the pixel size is in micrometres)",
                Setting::pixel_size);
  }
  if (!(std::fabs(g.tilt_deg) < kLargestTiltDeg)) {
    throw Error(printf_string("the tilt of %g degrees is not under 90", g.tilt_deg), Setting::tilt);
  }
  if (!(std::fabs(g.tilt_direction_deg) <= kLargestTurnDeg)) {
    throw Error(printf_string("the tilt direction of %g degrees lies beyond -360 to 360",
                              g.tilt_direction_deg),
                Setting::tilt);
  }
  if (!(std::fabs(g.rotation_about_beam_deg) <= kLargestTurnDeg)) {
    throw Error(printf_string("Rot3 = %g rad in the .poni is more than a turn: .poni angles are "
                              "in radians",
                              poni.rot3_rad),
                Setting::geometry);
  }
  if (g.wavelength_angstrom) {
    const double w = *g.wavelength_angstrom;
    if (!(w >= kShortestAngstrom && w <= kLongestAngstrom)) {
      if (from.wavelength == Source::poni) {
        throw Error(printf_string("Wavelength = %g m in the .poni lies %s%s", w * 1e-10,
                                  w < kShortestAngstrom ? "under 0.001 A" : "beyond 1000 A",
                                  w > kLongestAngstrom ? kInMetres : ""),
                    Setting::wavelength);
      }
      throw Error(named(from.wavelength, "wavelength", printf_string("%g A", w)) +
                      " lies outside 0.001 to 1000 A (the wavelength is in angstrom)",
                  Setting::wavelength);
    }
  }
  if (width < 1 || height < 1) return;
  // The beam may miss the plate, but not by many plates.
  const double side = std::max(width, height);
  const double off_x = std::fabs(g.center_x_px - width / 2.0) / side;
  const double off_y = std::fabs(g.center_y_px - height / 2.0) / side;
  if (off_x <= kFarthestCentreSides && off_y <= kFarthestCentreSides) return;
  if (from.center == Source::poni) {
    const bool y_off = off_y > off_x;
    throw Error(printf_string("Poni%d = %g m in the .poni puts the beam centre %.3g image sides "
                              "from the %d x %d image%s",
                              y_off ? 1 : 2, y_off ? poni.poni1_m : poni.poni2_m,
                              std::max(off_x, off_y), width, height, kInMetres),
                Setting::center);
  }
  throw Error(named(from.center, "beam centre",
                    printf_string("(%g, %g) px", g.center_x_px, g.center_y_px)) +
                  printf_string(" lies %.3g image sides from the %d x %d image, more than %g",
                                std::max(off_x, off_y), width, height, kFarthestCentreSides),
              Setting::center);
}

}  // namespace

GeometrySources sources_of(const GeometryFields& header, const GeometryOverrides& o) {
  const bool poni = o.base.has_value();
  GeometrySources s;
  s.distance = source(o.distance_mm, poni, header.distance_mm);
  s.center = source(o.center_x_px ? o.center_x_px : o.center_y_px, poni, header.center_x_px);
  s.pixel_size = source(o.pixel_x_um ? o.pixel_x_um : o.pixel_y_um, poni, header.pixel_x_um);
  if (s.pixel_size == Source::header && header.pixel_size_from_scan_mode) {
    s.pixel_size = Source::scan_mode;
  }
  s.tilt = source(o.tilt_deg ? o.tilt_deg : o.tilt_direction_deg, poni, std::optional<double>());
  s.wavelength = source(o.wavelength_angstrom, poni && o.base->wavelength_angstrom.has_value(),
                        header.wavelength_angstrom);
  return s;
}

bool Geometry::operator==(const Geometry& o) const {
  return distance_mm == o.distance_mm && center_x_px == o.center_x_px &&
         center_y_px == o.center_y_px && pixel_x_um == o.pixel_x_um && pixel_y_um == o.pixel_y_um &&
         tilt_deg == o.tilt_deg && tilt_direction_deg == o.tilt_direction_deg &&
         rotation_about_beam_deg == o.rotation_about_beam_deg &&
         wavelength_angstrom == o.wavelength_angstrom;
}

Geometry resolve_geometry(const GeometryFields& header, const GeometryOverrides& o, int width,
                          int height) {
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
  check_plausible(g, sources_of(header, o), width, height);
  return g;
}

void check_overrides(const GeometryOverrides& overrides) {
  // Plausible stand-ins for what a header would give leave only the
  // overrides' values to be judged.
  GeometryFields stand_in;
  stand_in.distance_mm = 100;
  stand_in.pixel_x_um = stand_in.pixel_y_um = 100;
  stand_in.center_x_px = stand_in.center_y_px = 0;
  resolve_geometry(stand_in, overrides);
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

std::string describe(const GeometrySources& s) {
  const std::pair<Source, const char*> values[] = {{s.distance, "distance"},
                                                   {s.center, "beam centre"},
                                                   {s.pixel_size, "pixel size"},
                                                   {s.tilt, "tilt"},
                                                   {s.wavelength, "wavelength"}};
  const std::pair<Source, const char*> origins[] = {
      {Source::header, "the header"},
      {Source::scan_mode, "the scan mode of the image's size, the header giving none"},
      {Source::poni, "the .poni"},
      {Source::given, "given"},
      {Source::none, "none given"}};
  std::string out;
  for (const auto& [origin, origin_name] : origins) {
    std::string names;
    for (const auto& [from, name] : values) {
      if (from == origin) names += std::string(names.empty() ? "" : ", ") + name;
    }
    if (!names.empty())
      out += (out.empty() ? "" : "; ") + std::string(origin_name) + " (" + names + ")";
  }
  return out;
}

}  // namespace vokip
