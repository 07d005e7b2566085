// The engine's reducer: a request's reduction of image files one after
// another, or of images handed over without a file. Each image's plan comes
// from its geometry and the request, and is reused for every following
// image that needs the same; in a run of files, the next file is read and
// decoded on another thread while the current one is binned.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/formats/image.h"
#include "engine/formats/mar345.h"
#include "engine/geometry/geometry.h"
#include "engine/plan/plan.h"
#include "engine/run/reduce.h"
#include "engine/run/request.h"

namespace vokip {

// Milliseconds per stage. Reading and decoding run beside the binning of
// the file before.
struct StageTimes {
  double read_ms = 0, decode_ms = 0, plan_ms = 0, reduce_ms = 0;
};

struct FileReduction {
  std::string path;
  Mar345Header header;
  Geometry geometry;
  std::string geometry_sources;  // where its values came from (describe(GeometrySources))
  Profile profile;
  StageTimes times;
  std::vector<std::uint8_t> image_picture;  // PNG, when asked for
  // What went wrong, without the file name; nothing on success.
  std::optional<Error> failure;
  bool ok() const { return !failure; }
  std::string error() const { return failure ? failure->what() : ""; }
};

// The plan's parameters for an image of the request: its size and the
// geometry of its header's fields under the request's. Throws Error when they
// give no usable geometry.
PlanParameters plan_parameters(const ReductionRequest& request, int width, int height,
                               const GeometryFields& header);

class FileReducer {
 public:
  // Checks the request and reads the files it names (check_request,
  // with_files_read), throwing Error when it cannot be run; with a shape,
  // plans for it at once. threads: how many threads may bin one image
  // (reading ahead takes one more).
  explicit FileReducer(ReductionRequest request, unsigned threads = 2);
  ~FileReducer();
  FileReducer(const FileReducer&) = delete;
  FileReducer& operator=(const FileReducer&) = delete;

  // Reduces the files in order and calls done with each result, in order, on
  // the calling thread. Whatever done throws ends the run. The thread that
  // reads ahead takes no SIGINT or SIGTERM: they reach the calling thread.
  void run(const std::vector<std::string>& paths,
           const std::function<void(const FileReduction&)>& done);

  // Reduces one file.
  FileReduction reduce(const std::string& path);

  // Reduces an image that came without a header: the request's geometry
  // must be whole. Throws Error.
  Profile reduce(const Image& image);

  // The request as checked, its files read.
  const ReductionRequest& request() const { return request_; }
  // The shape of the images reduced so far (or the request's), if any.
  std::optional<ImageShape> shape() const { return shape_; }
  // The geometry of the plan in use, if any.
  std::optional<Geometry> geometry() const;

 private:
  struct Loaded;
  void load(const std::string& path, std::vector<std::uint8_t>* bytes, Loaded* into) const;
  void finish(Loaded* loaded, FileReduction* out);
  // The parameters for an image without a header: the request's geometry
  // must be whole.
  PlanParameters headerless_parameters(int width, int height) const;
  // The steps of finish after the file was read: plan, reduce, picture.
  void reduce_loaded(Loaded* loaded, FileReduction* out);
  // Throws Error when an image of the shape is not of the one the request
  // holds to, nor of the .poni's detector: its max_shape or, for a MAR345
  // file's image of a scan mode's size, the plate that mode scans.
  void check_shape(const ImageShape& shape, bool mar345_file) const;
  // The plan for the parameters, made when the one in use is for others
  // (one plan's memory at a time). Throws Error when the image's shape is
  // not the one the request holds to. Returns the milliseconds it took.
  double use_plan(const PlanParameters& parameters);

  ReductionRequest request_;
  std::vector<Workspace> workspaces_;
  std::shared_ptr<const Plan> plan_;  // the last plan made: one geometry's at a time
  std::optional<ImageShape> shape_;
};

}  // namespace vokip
