// The whole reduction of one MAR345 image file to a 1-D profile, done by
// calling the module's procedures as a host program would.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "reduce/bins.h"
#include "reduce/geometry.h"
#include "reduce/mar345_file.h"
#include "reduce/mask_file.h"
#include "reduce/pixel_selection.h"

enum class Axis { two_theta, q };
enum class Statistic { mean, median };

struct ReductionRequest {
  GeometryOverrides geometry;
  BinRequest bins;  // in the axis's unit: degrees 2-theta or inverse angstrom
  Axis axis = Axis::two_theta;
  Statistic statistic = Statistic::mean;
  std::optional<AzimuthSector> sector;
  std::optional<Mask> mask;  // pixels left out, if any
  std::string module_dir;
  bool echo_module_messages = false;
};

struct Profile {
  Axis axis = Axis::two_theta;
  Statistic statistic = Statistic::mean;
  std::vector<double> centre;
  std::vector<std::int64_t> count;  // pixels per bin
  std::vector<double> value;        // mean or median; NaN for an empty bin
  std::vector<double> variance;     // sample variance, or variance about the median
  std::vector<double> spread;       // dispersion sum((v - mean)^2) / mean, or mean |v - median|
  double bin_width = 0;
};

struct StageTimes {
  double read_ms = 0, decode_ms = 0, angles_ms = 0, sort_ms = 0, integrate_ms = 0;
  double total_ms() const { return read_ms + decode_ms + angles_ms + sort_ms + integrate_ms; }
};

struct Reduction {
  Mar345Header header;
  Geometry geometry;
  Profile profile;
  PixelTally pixels;
  StageTimes times;
  std::string error;  // empty on success; says what is wrong, without the file name
  bool ok() const { return error.empty(); }
};

// Called with the name of each stage as it starts ("read", "decode", ...).
using StageCallback = std::function<void(const char* stage)>;

Reduction reduce_file(const std::string& path, const ReductionRequest& request,
                      const StageCallback& on_stage = nullptr);

// The full-intensity image: the module's 16-bit decoding of the stream with
// the overflow records' values put in. The module must be started.
bool decode_image(const std::uint8_t* file, const Mar345Header& header,
                  std::vector<std::uint32_t>* image, std::string* error);
