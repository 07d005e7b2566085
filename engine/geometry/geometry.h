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

// The header's geometry (or the overrides' base) with the overrides applied.
// Throws Error naming the setting when a value is missing or not usable.
Geometry resolve_geometry(const GeometryFields& header, const GeometryOverrides& overrides);

// One line describing the geometry, for file headers.
std::string describe(const Geometry& geometry);

}  // namespace vokip
