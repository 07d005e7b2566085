#include "cli/calibrate/run.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/calibrate/picture.h"
#include "engine/formats/files.h"
#include "engine/formats/image.h"
#include "engine/formats/mar345.h"
#include "engine/formats/mask.h"
#include "engine/formats/poni.h"
#include "engine/pictures/png.h"
#include "vokip_version.h"

namespace vokip {

namespace {

constexpr char kName[] = "vokip-calibrate";

// "value +- uncertainty unit", with the value to the uncertainty's second
// significant digit.
std::string with_uncertainty(double value, double uncertainty, const char* unit) {
  int decimals = 4;
  if (uncertainty > 0 && std::isfinite(uncertainty)) {
    decimals = std::clamp(1 - static_cast<int>(std::floor(std::log10(uncertainty))), 0, 9);
  }
  return printf_string("%.*f +- %.*f %s", decimals, value, decimals, uncertainty, unit);
}

// The starting geometry: the header's values under the options; with no
// centre given, or one off the image, the image's middle, to be searched
// from.
CalibrationStart starting_geometry(const Mar345Header& header, const GeometryOverrides& o) {
  GeometryOverrides overrides = o;
  CalibrationStart start;
  std::optional<double> x = header.geometry.center_x_px, y = header.geometry.center_y_px;
  if (o.base) {
    x = o.base->center_x_px;
    y = o.base->center_y_px;
  }
  if (o.center_x_px) x = o.center_x_px;
  if (o.center_y_px) y = o.center_y_px;
  start.centre_known = x && y && *x > 0 && *y > 0 && *x < header.size && *y < header.size;
  if (!start.centre_known) {
    overrides.center_x_px = header.size / 2.0;
    overrides.center_y_px = header.size / 2.0;
  }
  start.geometry = resolve_geometry(header.geometry, overrides);
  return start;
}

}  // namespace

std::string reduce_options_of(const Geometry& g) {
  std::string line = printf_string("--distance %.10g --center %.10g,%.10g", g.distance_mm,
                                   g.center_x_px, g.center_y_px);
  line += g.pixel_x_um == g.pixel_y_um
              ? printf_string(" --pixel-size %.10g", g.pixel_x_um)
              : printf_string(" --pixel-size %.10g,%.10g", g.pixel_x_um, g.pixel_y_um);
  line += printf_string(" --tilt %.10g --tilt-direction %.10g", g.tilt_deg, g.tilt_direction_deg);
  if (g.wavelength_angstrom) line += printf_string(" --wavelength %.10g", *g.wavelength_angstrom);
  return line;
}

std::string calibration_report(const std::string& image, const Calibrant& calibrant,
                               const CalibrationStart& start, const Calibration& c,
                               bool wavelength_fitted) {
  const Geometry& g = c.geometry;
  const GeometryUncertainty& u = c.uncertainty;
  std::string r = printf_string("%s %s: %s, calibrant %s\n", kName, kVokipVersion, image.c_str(),
                                calibrant.name.c_str());
  r += printf_string("beam centre found from the rings' symmetry at (%.1f, %.1f) px",
                     c.found_centre.x, c.found_centre.y);
  r += start.centre_known ? printf_string(", starting from (%.2f, %.2f)\n",
                                          start.geometry.center_x_px, start.geometry.center_y_px)
                          : std::string(" (no centre given)\n");
  r += printf_string(
      "distance found from the rings' radii about it: %.2f mm, starting from %.2f mm\n",
      c.found_distance_mm, start.geometry.distance_mm);
  r += "fitted geometry, with standard uncertainties:\n";
  r += "  distance        " + with_uncertainty(g.distance_mm, u.distance_mm, "mm") + "\n";
  r += "  beam centre x   " + with_uncertainty(g.center_x_px, u.center_x_px, "px") + "\n";
  r += "  beam centre y   " + with_uncertainty(g.center_y_px, u.center_y_px, "px") + "\n";
  r += "  tilt            " + with_uncertainty(g.tilt_deg, u.tilt_deg, "deg") + "\n";
  r += "  tilt direction  " + with_uncertainty(g.tilt_direction_deg, u.tilt_direction_deg, "deg") +
       "\n";
  r += "  wavelength      " +
       (wavelength_fitted ? with_uncertainty(*g.wavelength_angstrom, u.wavelength_angstrom, "A")
                          : printf_string("%.10g A (held)", *g.wavelength_angstrom)) +
       "\n";
  r += printf_string("  pixel size      %g x %g um (held)\n", g.pixel_x_um, g.pixel_y_um);
  r += printf_string(
      "%zu rings (of %d on the plate up to the outermost used), %zu points, rms "
      "residual %.3g deg in 2-theta (%.2g px on the plate)\n",
      c.rings.size(), c.rings_on_plate, c.points.size(), c.rms_deg, c.rms_px);
  r += "  ring  d (A)        2-theta (deg)  points  rms (deg)\n";
  for (const RingUse& ring : c.rings) {
    r += printf_string("  %4d  %-11.7g  %-13.6f  %6d  %.3g\n", ring.index + 1, ring.d_angstrom,
                       ring.two_theta_deg, ring.points, ring.rms_deg);
  }
  r += "vokip-reduce options: " + reduce_options_of(g) + "\n";
  if (g.rotation_about_beam_deg != 0) {
    r += printf_string(
        "  (the .poni's rotation about the beam, %g deg, turns only the azimuth; a .poni "
        "keeps it)\n",
        g.rotation_about_beam_deg);
  }
  return r;
}

int run_calibration(const CalibrateOptions& o, std::FILE* out, std::FILE* err) {
  // Each step names the file its failure concerns.
  std::string concerning;
  auto failed = [&](const std::string& message) {
    if (concerning.empty()) {
      std::fprintf(err, "%s: %s\n", kName, message.c_str());
    } else {
      std::fprintf(err, "%s: %s: %s\n", kName, concerning.c_str(), message.c_str());
    }
    return kExitCalibrationFailed;
  };
  try {
    concerning = o.calibrant_file;
    const Calibrant calibrant = o.calibrant_file.empty() ? builtin_calibrant(o.calibrant)
                                                         : read_calibrant(o.calibrant_file);

    std::optional<Mask> mask;
    concerning = o.mask_path;
    if (!o.mask_path.empty()) mask = read_mask(o.mask_path);

    GeometryOverrides overrides = o.start;
    concerning = o.poni_path;
    if (!o.poni_path.empty()) overrides.base = from_poni(read_poni(o.poni_path));

    concerning = o.image;
    const std::vector<std::uint8_t> bytes = read_file(o.image);
    const Mar345Header header = parse_mar345(bytes.data(), bytes.size());
    // A damaged image is said to be so before anything is asked of its
    // header's geometry.
    Image image;
    image.decode(bytes.data(), header);
    const PlateImage plate(image, mask ? &*mask : nullptr);
    const CalibrationStart start = starting_geometry(header, overrides);

    CalibrationSettings settings;
    settings.refine_wavelength = o.refine_wavelength;
    settings.max_iterations = static_cast<int>(o.max_iterations);
    const Calibration calibration = calibrate(plate, calibrant, start, settings);
    const std::string doubt = doubt_about(calibration, calibrant.name);
    // The picture of a fit not to be trusted is written all the same: it
    // shows where the rings were taken to be.
    if (!doubt.empty() && !o.force) {
      concerning = o.png_path;
      if (!o.png_path.empty()) write_png(o.png_path, calibration_picture(plate, calibration));
      concerning = o.image;
      return failed(doubt + " [--force]");
    }

    concerning = o.write_poni_path;
    if (!o.write_poni_path.empty()) {
      const std::string comment = std::string("written by ") + kName + " " + kVokipVersion +
                                  " for " + std::filesystem::path(o.image).filename().string() +
                                  ", calibrant " + calibrant.name;
      write_file_atomically(o.write_poni_path,
                            format_poni(to_poni(calibration.geometry), header.size, header.size,
                                        comment, o.poni_version));
    }
    concerning = o.png_path;
    if (!o.png_path.empty()) write_png(o.png_path, calibration_picture(plate, calibration));

    std::fputs(
        calibration_report(o.image, calibrant, start, calibration, o.refine_wavelength).c_str(),
        out);
    if (!o.write_poni_path.empty()) std::fprintf(out, "geometry: %s\n", o.write_poni_path.c_str());
    if (!o.png_path.empty()) std::fprintf(out, "picture: %s\n", o.png_path.c_str());
    if (!doubt.empty()) {
      std::fprintf(err, "%s: %s: warning: %s; kept as --force asks\n", kName, o.image.c_str(),
                   doubt.c_str());
    }
  } catch (const std::bad_alloc&) {
    return failed("out of memory");
  } catch (const Error& e) {
    return failed(with_option(e));
  }
  return kExitOk;
}

}  // namespace vokip
