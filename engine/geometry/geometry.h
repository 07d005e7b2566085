// The experiment's geometry for one image: what the image's file gives, each
// value overridable, resolved into the values a reduction needs.
#pragma once

#include <optional>
#include <string>

namespace vokip {

struct Geometry {
  double distance_mm = 0;  // sample to plate, along the beam
  double center_x_px = 0,
         center_y_px = 0;  // beam centre; pixel (c, r) has its centre at (c + 0.5, r + 0.5)
  double pixel_x_um = 0, pixel_y_um = 0;  // along a row (x, columns) and down the columns (y, rows)
  double tilt_deg = 0;            // plate tilt about an axis in its plane through the centre
  double tilt_direction_deg = 0;  // direction of that axis's normal, from +x towards +y
  // A turn of the laboratory frame about the beam (a .poni's Rot3): it turns
  // the azimuth chi and nothing else.
  double rotation_about_beam_deg = 0;
  std::optional<double> wavelength_angstrom;

  bool operator==(const Geometry& o) const;
};

// What an image file's header gives of the geometry.
struct GeometryFields {
  std::optional<double> pixel_x_um, pixel_y_um;
  std::optional<double> distance_mm;
  std::optional<double> wavelength_angstrom;
  std::optional<double> center_x_px, center_y_px;
  bool pixel_size_from_scan_mode = false;  // not in the file: implied by its size
};

struct GeometryOverrides {
  // A whole geometry (from a .poni) used in place of the header's; the
  // values below override it in turn.
  std::optional<Geometry> base;
  std::optional<double> distance_mm;
  std::optional<double> center_x_px, center_y_px;
  std::optional<double> pixel_x_um, pixel_y_um;
  std::optional<double> tilt_deg, tilt_direction_deg;
  std::optional<double> wavelength_angstrom;

  // Whether they make a geometry without a header's help (the wavelength aside).
  bool whole() const { return base || (distance_mm && center_x_px && pixel_x_um); }
};

// Where a value of a geometry comes from: the image's header, the scan mode
// its size implies, the .poni (the overrides' base), a value given, or none
// (the tilt's default 0).
enum class Source { header, scan_mode, poni, given, none };

struct GeometrySources {
  Source distance, center, pixel_size, tilt, wavelength;
};

// Where resolve_geometry takes each value from.
GeometrySources sources_of(const GeometryFields& header, const GeometryOverrides& overrides);

// The header's geometry (or the overrides' base) with the overrides applied.
// Throws Error naming the setting when a value is missing or not usable, or
// when the geometry cannot be a diffraction experiment: a distance under 1 mm
// or beyond 100 m, a pixel under 1 um or over 10 mm, a tilt of 90 degrees or
// more, a wavelength outside 0.001 to 1000 angstrom and, given the image's
// size, a beam centre more than 10 image sides from the image. The message
// says where the value came from and what likely went wrong (".poni lengths
// are in metres").
Geometry resolve_geometry(const GeometryFields& header, const GeometryOverrides& overrides,
                          int width = 0, int height = 0);

// Throws resolve_geometry's Error for a value the overrides (or their base)
// give that cannot be a diffraction experiment on any image; the values they
// leave to each image's header wait for it.
void check_overrides(const GeometryOverrides& overrides);

// One line describing the geometry, for file headers.
std::string describe(const Geometry& geometry);
// One line saying where each value came from, for file headers.
std::string describe(const GeometrySources& sources);

}  // namespace vokip
