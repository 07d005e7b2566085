// Reducing image files one after another: each file's plan comes from its
// header and the request, and is reused for every following file that needs
// the same; the next file is read and decoded on another thread while the
// current one is binned.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/mar345.h"
#include "engine/formats/mask.h"
#include "engine/geometry/geometry.h"
#include "engine/plan/plan.h"
#include "engine/run/reduce.h"

namespace vokip {

// What a reduction of image files asks for.
struct ReductionRequest {
  GeometryOverrides geometry;
  std::shared_ptr<const Mask> mask;  // pixels left out, if any
  std::optional<AzimuthSector> sector;
  BinRequest bins;  // in the unit
  Unit unit = Unit::two_theta_deg;
  Corrections corrections;
  RunOptions run;
  int azimuth_bins = 0;        // a cake of this many azimuth bins; 0 for none
  bool image_picture = false;  // a picture of each image (pictures.h), as PNG
};

// Milliseconds per stage. Reading and decoding run beside the binning of
// the file before.
struct StageTimes {
  double read_ms = 0, decode_ms = 0, plan_ms = 0, reduce_ms = 0;
};

struct FileReduction {
  std::string path;
  Mar345Header header;
  Geometry geometry;
  Profile profile;
  StageTimes times;
  std::vector<std::uint8_t> image_picture;  // PNG, when asked for
  std::string error;  // empty on success; says what is wrong, without the file name
  bool ok() const { return error.empty(); }
};

// The plan a file needs under a request. Throws Error when the header and
// the request give no usable geometry.
PlanParameters plan_spec(const Mar345Header& header, const ReductionRequest& request);

class FileReducer {
 public:
  // threads: how many threads may bin one image (reading ahead takes one more).
  explicit FileReducer(ReductionRequest request, unsigned threads = 2);
  ~FileReducer();
  FileReducer(const FileReducer&) = delete;
  FileReducer& operator=(const FileReducer&) = delete;

  // Reduces the files in order and calls done with each result, in order, on
  // the calling thread. Whatever done throws ends the run.
  void run(const std::vector<std::string>& paths,
           const std::function<void(const FileReduction&)>& done);

  // Reduces one file.
  FileReduction reduce(const std::string& path);

 private:
  struct Loaded;
  void load(const std::string& path, std::vector<std::uint8_t>* bytes, Loaded* into) const;
  void finish(Loaded* loaded, FileReduction* out);

  ReductionRequest request_;
  std::vector<Workspace> workspaces_;
  std::shared_ptr<const Plan> plan_;  // the last plan made: one geometry's at a time
};

}  // namespace vokip
