#include "engine/run/reducer.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "engine/base/text.h"
#include "engine/formats/files.h"
#include "engine/pictures/pictures.h"

namespace vokip {

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs the step; what it throws becomes the failure.
template <class Step>
std::optional<Error> failure_of(Step&& step) {
  try {
    step();
  } catch (const std::bad_alloc&) {
    return Error("out of memory");
  } catch (const Error& e) {
    return e;
  } catch (const std::exception& e) {
    return Error(e.what());
  }
  return std::nullopt;
}

std::string shape_text(const ImageShape& s) {
  return std::to_string(s.columns) + " x " + std::to_string(s.rows);
}

}  // namespace

// A file read and decoded, ready to be binned. Its buffers are kept for the
// next file.
struct FileReducer::Loaded {
  std::string path;
  Mar345Header header;
  Image image;
  std::optional<Error> read_error;    // the file could not be read or parsed
  std::optional<Error> decode_error;  // its stream could not be decoded
  double read_ms = 0, decode_ms = 0;
};

PlanParameters plan_parameters(const ReductionRequest& request, int width, int height,
                               const GeometryFields& header) {
  PlanParameters parameters;
  parameters.width = width;
  parameters.height = height;
  parameters.geometry = resolve_geometry(header, request.geometry, width, height);
  parameters.mask = request.mask;
  parameters.sector = request.sector;
  parameters.bins = request.bins;
  parameters.unit = request.unit;
  parameters.corrections = request.corrections;
  parameters.azimuth_bins = static_cast<int>(request.azimuth_bins.value_or(0));
  parameters.cake_bins = request.cake_bins;
  parameters.split = request.split;
  return parameters;
}

FileReducer::FileReducer(ReductionRequest request, unsigned threads)
    : workspaces_(threads < 1 ? 1 : threads) {
  check_request(request);
  request_ = with_files_read(std::move(request));
  shape_ = request_.shape;
  // A geometry given whole is checked now (with the .poni's detector size, if
  // it gives one), and with a shape planned now.
  if (shape_) {
    use_plan(headerless_parameters(shape_->columns, shape_->rows));
  } else if (request_.geometry.whole()) {
    const ImageShape detector = request_.poni_shape.value_or(ImageShape());
    resolve_geometry(GeometryFields(), request_.geometry, detector.columns, detector.rows);
  } else {
    check_overrides(request_.geometry);
  }
}

PlanParameters FileReducer::headerless_parameters(int width, int height) const {
  if (!request_.geometry.whole()) {
    throw Error("an image without a header needs the whole geometry", Setting::geometry);
  }
  return plan_parameters(request_, width, height, GeometryFields());
}

FileReducer::~FileReducer() = default;

std::optional<Geometry> FileReducer::geometry() const {
  if (!plan_) return std::nullopt;
  return plan_->parameters().geometry;
}

void FileReducer::check_shape(const ImageShape& shape, bool mar345_file) const {
  // One rule, one message: the image's shape and the one it must have.
  auto hold_to = [&](const ImageShape& wanted, const std::string& whose, Setting setting) {
    if (shape == wanted) return;
    throw Error("the image is " + shape_text(shape) + " pixels, not the " + shape_text(wanted) +
                    " " + whose,
                setting);
  };
  if (shape_ && (request_.shape || request_.one_shape)) {
    hold_to(*shape_, "this reduction is planned for", Setting::shape);
  }
  if (request_.poni_shape) {
    hold_to(*request_.poni_shape, "of the .poni's detector (its Detector_config max_shape)",
            Setting::geometry);
    return;
  }
  // Without a max_shape, a .poni's pixel size tells its plate when the image
  // is a scan mode's: 100 um pixels are the 3450 x 3450 mode's on a 2300 x
  // 2300 image of the 345 mm plate.
  const std::optional<double> mode = scan_mode_pixel_um(shape.columns);
  const GeometryOverrides& g = request_.geometry;
  if (!mar345_file || !mode || !g.base || g.pixel_x_um || g.pixel_y_um) return;
  const double plate_um = shape.columns * *mode;
  const double x_um = g.base->pixel_x_um, y_um = g.base->pixel_y_um;
  if (std::fabs(x_um / *mode - 1) <= 0.05 && std::fabs(y_um / *mode - 1) <= 0.05) return;
  hold_to(ImageShape{static_cast<int>(std::lround(plate_um / y_um)),
                     static_cast<int>(std::lround(plate_um / x_um))},
          printf_string("of the .poni's detector (%g x %g um pixels on the %g mm plate of the "
                        "image's scan mode)",
                        x_um, y_um, plate_um / 1000),
          Setting::geometry);
}

double FileReducer::use_plan(const PlanParameters& parameters) {
  const ImageShape shape{parameters.height, parameters.width};
  check_shape(shape, false);
  if (plan_ && plan_->parameters() == parameters) return 0;
  const Clock::time_point start = Clock::now();
  plan_.reset();  // one plan's memory at a time
  plan_ = std::make_shared<const Plan>(parameters);
  shape_ = shape;  // an image that cannot be planned leaves the shape open
  return ms_since(start);
}

Profile FileReducer::reduce(const Image& image) {
  if (!image.counts() && request_.run.error_model == ErrorModel::poisson) {
    throw Error(
        "the counting error model needs counts, and the image's values are not all whole "
        "numbers",
        Setting::error_model);
  }
  use_plan(headerless_parameters(image.width(), image.height()));
  return reduce_image(*plan_, image, request_.run, &workspaces_);
}

void FileReducer::load(const std::string& path, std::vector<std::uint8_t>* bytes, Loaded* l) const {
  l->path = path;
  Clock::time_point start = Clock::now();
  l->read_error = failure_of([&] {
    read_file(path, bytes);
    l->header = parse_mar345(bytes->data(), bytes->size());
  });
  l->read_ms = ms_since(start);
  l->decode_error.reset();
  l->decode_ms = 0;
  if (l->read_error) return;
  start = Clock::now();
  l->decode_error = failure_of([&] { l->image.decode(bytes->data(), l->header); });
  l->decode_ms = ms_since(start);
}

void FileReducer::finish(Loaded* l, FileReduction* out) {
  out->path = l->path;
  out->times.read_ms = l->read_ms;
  out->times.decode_ms = l->decode_ms;
  out->failure = l->read_error;
  if (!out->failure) {
    out->header = l->header;
    out->failure = failure_of([&] { reduce_loaded(l, out); });
  }
}

void FileReducer::reduce_loaded(Loaded* l, FileReduction* out) {
  // A file that does not decode costs no plan.
  if (l->decode_error) throw *l->decode_error;
  const int size = l->header.size;
  check_shape(ImageShape{size, size}, true);
  const PlanParameters parameters = plan_parameters(request_, size, size, l->header.geometry);
  out->geometry = parameters.geometry;
  out->geometry_sources = describe(sources_of(l->header.geometry, request_.geometry));
  out->times.plan_ms = use_plan(parameters);
  const Clock::time_point start = Clock::now();
  out->profile = reduce_image(*plan_, l->image, request_.run, &workspaces_);
  out->times.reduce_ms = ms_since(start);
  if (request_.image_picture) {
    const std::size_t slash = l->path.rfind('/');
    out->image_picture =
        image_png(l->image, *plan_, out->profile,
                  slash == std::string::npos ? l->path : l->path.substr(slash + 1));
  }
}

FileReduction FileReducer::reduce(const std::string& path) {
  Loaded loaded;
  std::vector<std::uint8_t> bytes;
  load(path, &bytes, &loaded);
  FileReduction result;
  finish(&loaded, &result);
  return result;
}

void FileReducer::run(const std::vector<std::string>& paths,
                      const std::function<void(const FileReduction&)>& done) {
  // Two slots: the reader fills one while the other is binned.
  Loaded slots[2];
  bool filled[2] = {false, false};
  bool stop = false;
  std::mutex mutex;
  std::condition_variable changed;

  std::thread reader([&] {
    // A signal's handler runs on the calling thread, which knows what it had done.
    const TerminationDeferred to_the_caller;
    // The files' bytes are needed only until their image is decoded.
    std::vector<std::uint8_t> bytes;
    for (std::size_t k = 0; k < paths.size(); ++k) {
      const std::size_t s = k % 2;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !filled[s] || stop; });
        if (stop) return;
      }
      load(paths[k], &bytes, &slots[s]);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        filled[s] = true;
      }
      changed.notify_all();
    }
  });
  auto stop_reader = [&] {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
    reader.join();
  };

  try {
    for (std::size_t k = 0; k < paths.size(); ++k) {
      const std::size_t s = k % 2;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return filled[s]; });
      }
      FileReduction result;
      finish(&slots[s], &result);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        filled[s] = false;
      }
      changed.notify_all();
      done(result);
    }
  } catch (...) {
    stop_reader();
    throw;
  }
  stop_reader();
}

}  // namespace vokip
