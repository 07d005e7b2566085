#include "engine/run/request.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "engine/base/error.h"
#include "engine/base/text.h"
#include "engine/formats/poni.h"

namespace vokip {

void check_request(const ReductionRequest& r) {
  const BinRequest& b = r.bins;
  if (b.count && b.width) {
    throw Error("give either a number of bins or a bin width, not both", Setting::bins);
  }
  if (b.count && (*b.count < 1 || *b.count > kMostBins)) {
    throw Error("the number of bins must be 1 to " + std::to_string(kMostBins), Setting::bins);
  }
  if (b.width && !(*b.width > 0 && std::isfinite(*b.width))) {
    throw Error("the bin width must be a positive number", Setting::bin_width);
  }
  if (b.low && b.high && !(*b.high > *b.low)) {
    throw Error("the range's low end must lie below its high end", Setting::range);
  }
  const RunOptions& run = r.run;
  if (run.low && run.high && !(*run.high >= *run.low)) {
    throw Error("the low limit must not lie above the high limit", Setting::limits);
  }
  if (r.sector && !(r.sector->to_deg > r.sector->from_deg)) {
    throw Error("the azimuth sector's start must lie below its end", Setting::azimuth);
  }
  if (r.azimuth_bins && (*r.azimuth_bins < 1 || *r.azimuth_bins > kMostAzimuthBins)) {
    throw Error("a cake has 1 to " + std::to_string(kMostAzimuthBins) + " azimuth bins",
                Setting::cake);
  }
  if (r.cake_bins && !r.azimuth_bins) {
    throw Error("the cake's radial bins need a cake", Setting::cake);
  }
  if (r.cake_bins && (*r.cake_bins < 1 || *r.cake_bins > kMostBins)) {
    throw Error("the cake's radial bins must be 1 to " + std::to_string(kMostBins),
                Setting::cake_bins);
  }
  const std::optional<double>& mu_t = r.corrections.plate_absorption;
  if (mu_t && !(*mu_t > 0 && *mu_t <= 100)) {
    throw Error("the plate's absorption mu t must be a positive number of at most 100",
                Setting::plate_absorption);
  }
  const std::optional<double>& p = r.corrections.polarization;
  if (p && !(*p >= -1 && *p <= 1)) {
    throw Error("the polarization factor must lie from -1 to 1", Setting::polarization);
  }
  if (r.shape && (r.shape->rows < 1 || r.shape->columns < 1 || r.shape->rows > kLargestImageSide ||
                  r.shape->columns > kLargestImageSide)) {
    throw Error("an image's shape is 1 x 1 to " + std::to_string(kLargestImageSide) + " x " +
                    std::to_string(kLargestImageSide) + " pixels",
                Setting::shape);
  }
}

ReductionRequest with_files_read(ReductionRequest r) {
  // Each file is read once, for every image.
  auto read_named = [](const char* what, const std::string& path, auto&& read) {
    try {
      return read(path);
    } catch (const Error& e) {
      throw Error(std::string(what) + " " + path + ": " + e.what(), e.kind());
    }
  };
  if (!r.mask_file.empty()) {
    r.mask = std::make_shared<const Mask>(read_named("mask", r.mask_file, read_mask));
  }
  if (!r.dark_file.empty()) {
    r.corrections.dark =
        std::make_shared<const ValueImage>(read_named("dark", r.dark_file, read_value_image));
  }
  if (!r.flat_file.empty()) {
    r.corrections.flat =
        std::make_shared<const ValueImage>(read_named("flat", r.flat_file, read_value_image));
  }
  if (!r.poni_file.empty()) {
    const PoniGeometry poni = read_named(".poni", r.poni_file, read_poni);
    r.geometry.base =
        read_named(".poni", r.poni_file, [&](const std::string&) { return from_poni(poni); });
    if (poni.rows > 0) r.poni_shape = ImageShape{poni.rows, poni.columns};
  }
  return r;
}

namespace {

// FNV-1a of the bytes: the same contents, the same digest.
std::uint64_t digest(const void* data, std::size_t size) {
  std::uint64_t h = 1469598103934665603ull;
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t k = 0; k < size; ++k) h = (h ^ bytes[k]) * 1099511628211ull;
  return h;
}

// The shortest text that reads back as the same number.
std::string exact(double v) {
  for (int digits = 6;; ++digits) {
    const std::string text = printf_string("%.*g", digits, v);
    if (digits >= 17 || std::strtod(text.c_str(), nullptr) == v) return text;
  }
}

// ", name value" for each value given.
std::string given(const std::vector<std::pair<const char*, std::optional<double>>>& values) {
  std::string s;
  for (const auto& [name, value] : values) {
    if (value) s += std::string(", ") + name + " " + exact(*value);
  }
  return s;
}

}  // namespace

std::string settings_line(const ReductionRequest& r) {
  const GeometryOverrides& g = r.geometry;
  std::string s = "geometry: ";
  if (g.base) {
    const Geometry& b = *g.base;
    s += ".poni (" +
         given({{"distance", b.distance_mm},
                {"centre x", b.center_x_px},
                {"centre y", b.center_y_px},
                {"pixel x", b.pixel_x_um},
                {"pixel y", b.pixel_y_um},
                {"tilt", b.tilt_deg},
                {"tilt direction", b.tilt_direction_deg},
                {"rotation about the beam", b.rotation_about_beam_deg},
                {"wavelength", b.wavelength_angstrom}})
             .substr(2) +
         ")";
    if (r.poni_shape) {
      s += " for " + std::to_string(r.poni_shape->columns) + " x " +
           std::to_string(r.poni_shape->rows) + " pixels";
    }
  } else {
    s += "the header";
  }
  const std::string values = given({{"distance", g.distance_mm},
                                    {"centre x", g.center_x_px},
                                    {"centre y", g.center_y_px},
                                    {"pixel x", g.pixel_x_um},
                                    {"pixel y", g.pixel_y_um},
                                    {"tilt", g.tilt_deg},
                                    {"tilt direction", g.tilt_direction_deg},
                                    {"wavelength", g.wavelength_angstrom}});
  if (!values.empty()) s += "; given " + values.substr(2);
  s += std::string("; unit ") + unit_name(r.unit);
  const BinRequest& b = r.bins;
  s += b.count   ? "; bins " + std::to_string(*b.count)
       : b.width ? "; bins of width " + exact(*b.width)
                 : std::string("; a bin per pixel of radius");
  s += given({{"from", b.low}, {"to", b.high}});
  s += std::string("; statistic ") + statistic_name(r.run.statistic) + ", error model " +
       error_model_name(r.run.error_model) + ", pixels split " + split_name(r.split);
  s += given({{"raw values from", r.run.low}, {"raw values to", r.run.high}});
  if (r.mask) {
    s += printf_string(
        "; mask %d x %d %016llx", r.mask->width, r.mask->height,
        static_cast<unsigned long long>(digest(r.mask->excluded.data(), r.mask->excluded.size())));
  }
  if (r.sector) s += "; azimuth " + exact(r.sector->from_deg) + " to " + exact(r.sector->to_deg);
  const Corrections& c = r.corrections;
  s += std::string("; solid angle ") + (c.solid_angle ? "on" : "off");
  s += given({{"polarization", c.polarization}, {"plate absorption mu t", c.plate_absorption}});
  const std::pair<const char*, const ValueImage*> images[] = {{"dark", c.dark.get()},
                                                              {"flat", c.flat.get()}};
  for (const auto& [name, image] : images) {
    if (!image) continue;
    s += printf_string("; %s %d x %d %016llx", name, image->width, image->height,
                       static_cast<unsigned long long>(
                           digest(image->values.data(), image->values.size() * sizeof(float))));
  }
  if (r.azimuth_bins) s += "; cake of " + std::to_string(*r.azimuth_bins) + " azimuth bins";
  if (r.cake_bins) s += " and " + std::to_string(*r.cake_bins) + " radial bins";
  if (r.image_picture) s += "; picture of the image";
  return s;
}

Unit unit_called(const std::string& name) {
  const std::optional<Unit> unit = unit_named(name);
  if (!unit) {
    throw Error("the unit '" + name + "' is not one of " + unit_names(), Setting::unit);
  }
  return *unit;
}

Split split_called(const std::string& name) {
  if (name == "none") return Split::none;
  if (name == "bbox") return Split::bbox;
  if (name == "full") return Split::full;
  throw Error("the pixel splitting '" + name + "' is not one of none, bbox or full",
              Setting::split);
}

ErrorModel error_model_called(const std::string& name) {
  if (name == "none") return ErrorModel::none;
  if (name == "poisson") return ErrorModel::poisson;
  if (name == "azimuthal") return ErrorModel::azimuthal;
  throw Error("the error model '" + name + "' is not one of none, poisson or azimuthal",
              Setting::error_model);
}

}  // namespace vokip
