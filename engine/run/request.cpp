#include "engine/run/request.h"

#include <cmath>

#include "engine/base/error.h"
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
  const std::optional<double>& p = r.corrections.polarization;
  if (p && !(*p >= -1 && *p <= 1)) {
    throw Error("the polarization factor must lie from -1 to 1", Setting::polarization);
  }
  if (r.shape && (r.shape->rows < 1 || r.shape->columns < 1)) {
    throw Error("an image's shape is at least 1 x 1 pixels", Setting::shape);
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
    r.geometry.base = read_named(".poni", r.poni_file,
                                 [](const std::string& p) { return from_poni(read_poni(p)); });
  }
  return r;
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
