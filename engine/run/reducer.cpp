#include "engine/run/reducer.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

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
  parameters.geometry = resolve_geometry(header, request.geometry);
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
  // A geometry given whole is checked now, and with a shape planned now.
  if (shape_) {
    use_plan(headerless_parameters(shape_->columns, shape_->rows));
  } else if (request_.geometry.whole()) {
    resolve_geometry(GeometryFields(), request_.geometry);
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

double FileReducer::use_plan(const PlanParameters& parameters) {
  const ImageShape shape{parameters.height, parameters.width};
  if (shape_ && (request_.shape || request_.one_shape) && !(shape == *shape_)) {
    throw Error("the image is " + shape_text(shape) + " pixels, not the " + shape_text(*shape_) +
                    " this reduction is planned for",
                Setting::shape);
  }
  if (plan_ && plan_->parameters() == parameters) return 0;
  const Clock::time_point start = Clock::now();
  plan_.reset();  // one plan's memory at a time
  plan_ = std::make_shared<const Plan>(parameters);
  shape_ = shape;  // an image that cannot be planned leaves the shape open
  return ms_since(start);
}

Profile FileReducer::reduce(const Image& image) {
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
  const PlanParameters parameters =
      plan_parameters(request_, l->header.size, l->header.size, l->header.geometry);
  out->geometry = parameters.geometry;
  out->times.plan_ms = use_plan(parameters);
  if (l->decode_error) throw *l->decode_error;
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
