// A reduction as a user asks for it: every setting, with its limits and its
// checks, in one place for the command line and Python alike. Each front
// end only turns its options or keywords into a request; an Error from here
// names the setting, to which the front end adds its own spelling of it.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/formats/image_files.h"
#include "engine/formats/mask.h"
#include "engine/geometry/geometry.h"
#include "engine/geometry/units.h"
#include "engine/plan/bins.h"
#include "engine/plan/plan.h"
#include "engine/run/reduce.h"

namespace vokip {

// A cake has at most this many azimuth bins.
constexpr int kMostAzimuthBins = 3600;

// An image's size in pixels.
struct ImageShape {
  int rows = 0, columns = 0;
  bool operator==(const ImageShape& o) const { return rows == o.rows && columns == o.columns; }
};

struct ReductionRequest {
  // The geometry: each image's header, or a .poni in its place (read from
  // poni_file), with each value given here over it.
  std::string poni_file;
  GeometryOverrides geometry;

  // Pixels left out beyond those of value 0: a mask (read from mask_file,
  // or given), raw values outside the run's limits, an azimuth sector.
  std::string mask_file;
  std::shared_ptr<const Mask> mask;
  std::optional<AzimuthSector> sector;

  BinRequest bins;  // in the unit
  Unit unit = Unit::two_theta_deg;
  // The dark and the flat are read from their files, or given in corrections.
  std::string dark_file, flat_file;
  Corrections corrections;
  RunOptions run;                    // statistic, error model, limits
  Split split = Split::bbox;         // pixels spread over the bins they cover, as pyFAI's default
  std::optional<long> azimuth_bins;  // a cake of this many azimuth bins
  std::optional<long> cake_bins;     // and radial bins (default: the profile's)
  bool image_picture = false;        // a picture of each image (pictures.h), as PNG

  // Every image must be of this shape; with one_shape, of the first one's.
  std::optional<ImageShape> shape;
  bool one_shape = false;
  // The detector the .poni describes (its Detector_config max_shape), read
  // with it: every image must be of its shape.
  std::optional<ImageShape> poni_shape;
};

// Throws Error naming the setting when one lies outside its limits or two
// contradict each other. Reads no file.
void check_request(const ReductionRequest& request);

// The request with the files it names read into it. Throws Error naming the
// file that cannot be read.
ReductionRequest with_files_read(ReductionRequest request);

// Every setting of the request, the .poni's geometry and the contents of the
// mask, dark and flat (by digest) among them, as one line: two requests that
// reduce every image alike give the same line.
std::string settings_line(const ReductionRequest& request);

// The unit, error model or splitting of a name (unit_named's names; none,
// poisson, azimuthal; none, bbox, full). Throws Error naming the names there
// are.
Unit unit_called(const std::string& name);
ErrorModel error_model_called(const std::string& name);
Split split_called(const std::string& name);

}  // namespace vokip
