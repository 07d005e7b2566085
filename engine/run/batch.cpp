#include "engine/run/batch.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "engine/error.h"
#include "engine/formats/files.h"
#include "engine/pictures/pictures.h"

namespace vokip {

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs the step; what it throws becomes the message.
template <class Step>
std::string failure_of(Step&& step) {
  try {
    step();
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

}  // namespace

// A file read and decoded, ready to be binned. Its buffers are kept for the
// next file.
struct FileReducer::Loaded {
  std::string path;
  Mar345Header header;
  Image image;
  std::string read_error;    // the file could not be read or parsed
  std::string decode_error;  // its stream could not be decoded
  double read_ms = 0, decode_ms = 0;
};

PlanParameters plan_spec(const Mar345Header& header, const ReductionRequest& request) {
  PlanParameters parameters;
  parameters.width = header.size;
  parameters.height = header.size;
  parameters.geometry = resolve_geometry(header, request.geometry);
  parameters.mask = request.mask;
  parameters.sector = request.sector;
  parameters.bins = request.bins;
  parameters.unit = request.unit;
  parameters.corrections = request.corrections;
  parameters.azimuth_bins = request.azimuth_bins;
  return parameters;
}

FileReducer::FileReducer(ReductionRequest request, unsigned threads)
    : request_(std::move(request)), workspaces_(threads < 1 ? 1 : threads) {}

FileReducer::~FileReducer() = default;

void FileReducer::load(const std::string& path, std::vector<std::uint8_t>* bytes, Loaded* l) const {
  l->path = path;
  Clock::time_point start = Clock::now();
  l->read_error = failure_of([&] {
    read_file(path, bytes);
    l->header = parse_mar345(bytes->data(), bytes->size());
  });
  l->read_ms = ms_since(start);
  l->decode_error.clear();
  l->decode_ms = 0;
  if (!l->read_error.empty()) return;
  start = Clock::now();
  l->decode_error = failure_of([&] { l->image.decode(bytes->data(), l->header); });
  l->decode_ms = ms_since(start);
}

void FileReducer::finish(Loaded* l, FileReduction* out) {
  out->path = l->path;
  out->times.read_ms = l->read_ms;
  out->times.decode_ms = l->decode_ms;
  if (!l->read_error.empty()) {
    out->error = l->read_error;
    return;
  }
  out->header = l->header;
  out->error = failure_of([&] {
    const PlanParameters parameters = plan_spec(l->header, request_);
    out->geometry = parameters.geometry;
    if (!plan_ || !(plan_->parameters() == parameters)) {
      const Clock::time_point start = Clock::now();
      plan_.reset();  // one plan's memory at a time
      plan_ = std::make_shared<const Plan>(parameters);
      out->times.plan_ms = ms_since(start);
    }
    if (!l->decode_error.empty()) throw Error(l->decode_error);
    const Clock::time_point start = Clock::now();
    out->profile = reduce_image(*plan_, l->image, request_.run, &workspaces_);
    out->times.reduce_ms = ms_since(start);
    if (request_.image_picture) {
      const std::size_t slash = l->path.rfind('/');
      out->image_picture =
          image_png(l->image, *plan_, out->profile,
                    slash == std::string::npos ? l->path : l->path.substr(slash + 1));
    }
  });
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
