#include "reduce/reduction.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

#include "host/host.h"
#include "reduce/module_calls.h"
#include "reduce/radix_sort.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Radius from the beam centre to the farthest image corner, in pixels: about
// one bin per pixel ring by default.
std::int64_t default_bin_count(const Geometry& g, int size) {
  double farthest = 0;
  for (double x : {0.0, double(size)}) {
    for (double y : {0.0, double(size)}) {
      farthest = std::max(farthest, std::hypot(x - g.center_x_px, y - g.center_y_px));
    }
  }
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(farthest)));
}

// A key's position on the profile's axis: 2-theta, or q.
struct AxisOf {
  Axis axis;
  double wavelength;
  double operator()(std::uint64_t key) const {
    const double two_theta = from_order_key(key);
    return axis == Axis::q ? q_from_two_theta(two_theta, wavelength) : two_theta;
  }
};

// First index in [0, n) whose axis value is not below the edge.
std::size_t first_not_below_key(const std::uint64_t* keys, std::size_t n, const AxisOf& axis_of,
                                double edge) {
  return static_cast<std::size_t>(
      std::partition_point(keys, keys + n, [&](std::uint64_t k) { return edge > axis_of(k); }) -
      keys);
}

template <class T>
T load(const void* base, std::size_t i) {
  T v;
  std::memcpy(&v, static_cast<const char*>(base) + i * sizeof(T), sizeof(T));
  return v;
}
template <class T>
void store(void* base, std::size_t i, T v) {
  std::memcpy(static_cast<char*>(base) + i * sizeof(T), &v, sizeof(T));
}

// The pixels that take part, sorted by angle, as the host double arrays of
// keys and values the integration reads. The sort works inside the host's
// own arrays, so a large image needs no other big buffers: keys sort in the
// key array with the spent angle map as scratch, the 32-bit values in the
// two halves of the value array. Keys outside the bins are dropped; the
// arrays' tail past the used pixels holds NaN keys, which belong to no bin.
struct SortedPixels {
  IDL_VPTR keys = nullptr, values = nullptr;
  BinLayout layout;
};

std::string sort_pixels(const PixelSelection& selection, std::int64_t kept, IDL_VPTR angles,
                        const ReductionRequest& request, const Geometry& g, int size,
                        SortedPixels* out, PixelTally* tally) {
  const std::size_t n = static_cast<std::size_t>(kept);
  out->keys = vokip_host::make_array(IDL_TYP_DOUBLE, {kept});
  out->values = vokip_host::make_array(IDL_TYP_DOUBLE, {kept});
  void* key_memory = vokip_host::data(out->keys);
  void* value_memory = vokip_host::data(out->values);  // 2n 32-bit slots
  auto* keys = static_cast<std::uint64_t*>(key_memory);
  auto* values = static_cast<std::uint32_t*>(value_memory);
  auto* key_scratch = static_cast<std::uint64_t*>(vokip_host::data(angles));
  selection.write(vokip_host::data_as<double>(angles), keys, values);
  const bool in_scratch = radix_sort_pairs(keys, values, n, key_scratch, values + n);
  const std::uint64_t* sorted_keys = in_scratch ? key_scratch : keys;
  // The values as the second half holds them: n slots after the first.
  if (!in_scratch) std::memcpy(values + n, values, n * sizeof(std::uint32_t));

  // NaN angles sort last and belong to no bin.
  const std::size_t numbers = static_cast<std::size_t>(
      std::lower_bound(sorted_keys, sorted_keys + n, order_key(std::nan(""))) - sorted_keys);
  if (numbers == 0) return "no pixel has an angle (the geometry gives none)";
  const AxisOf axis_of{request.axis, g.wavelength_angstrom.value_or(1)};
  std::string error;
  if (!lay_out_bins(request.bins, axis_of(sorted_keys[0]), axis_of(sorted_keys[numbers - 1]),
                    default_bin_count(g, size), &out->layout, &error)) {
    return error;
  }
  const std::size_t lo =
      first_not_below_key(sorted_keys, numbers, axis_of, out->layout.edges.front());
  const std::size_t hi =
      first_not_below_key(sorted_keys, numbers, axis_of, out->layout.edges.back());
  tally->used = static_cast<std::int64_t>(hi - lo);
  tally->off_range = kept - tally->used;
  if (tally->used == 0) return "no pixel lies inside the range of the bins";

  // Upwards, every slot is read before it is written over: keys move down
  // (or come from the scratch), and value i lands on 32-bit slots 2i and
  // 2i + 1, below the second-half slot n + lo + i it comes from.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < n; ++i) {
    if (i < hi - lo) {
      const double key = axis_of(sorted_keys[lo + i]);
      const double value = load<std::uint32_t>(value_memory, n + lo + i);
      store<double>(key_memory, i, key);
      store<double>(value_memory, i, value);
    } else {
      store<double>(key_memory, i, nan);
      store<double>(value_memory, i, 0.0);
    }
  }
  return "";
}

std::string run(const std::string& path, const ReductionRequest& request,
                const StageCallback& on_stage, Reduction* r) {
  auto stage = [&](const char* name) {
    if (on_stage) on_stage(name);
    return Clock::now();
  };
  StageTimes& times = r->times;
  std::string error;

  Clock::time_point start = stage("read");
  std::vector<std::uint8_t> bytes;
  if (!read_file_bytes(path, &bytes, &error)) return error;
  Mar345Parse parsed = parse_mar345(bytes.data(), bytes.size());
  if (!parsed.ok()) return parsed.error;
  r->header = std::move(parsed.header);
  const Mar345Header& h = r->header;
  if (!resolve_geometry(h, request.geometry, &r->geometry, &error)) return error;
  const Geometry& g = r->geometry;
  if (request.axis == Axis::q && !g.wavelength_angstrom) {
    return "q needs the wavelength: none in the header; give --wavelength A";
  }
  if (request.mask && (request.mask->width != h.size || request.mask->height != h.size)) {
    return "the mask is " + std::to_string(request.mask->width) + " x " +
           std::to_string(request.mask->height) + " pixels, the image " + std::to_string(h.size) +
           " x " + std::to_string(h.size);
  }
  times.read_ms = ms_since(start);

  start = stage("decode");
  if (!start_module(find_module_dir(request.module_dir), request.echo_module_messages, &error)) {
    return error;
  }
  IDL_VPTR image =
      call_unpck(bytes.data() + h.stream_offset, h.stream_length, h.size, h.size, &error);
  if (!image) return error;
  bytes = std::vector<std::uint8_t>();
  times.decode_ms = ms_since(start);

  start = stage("angles");
  IDL_VPTR angles = call_distortimageplate(g, h.size, h.size, &error);
  if (!angles) return error;
  IDL_VPTR azimuths = nullptr;
  if (request.sector) {
    azimuths = call_azimuthimageplate(g, h.size, h.size, &error);
    if (!azimuths) return error;
  }
  times.angles_ms = ms_since(start);

  start = stage("sort");
  const PixelSelection selection(vokip_host::data_as<std::uint16_t>(image), h.pixel_count(),
                                 h.overflow, request.mask ? request.mask->excluded.data() : nullptr,
                                 azimuths ? vokip_host::data_as<double>(azimuths) : nullptr,
                                 request.sector);
  const std::int64_t kept = selection.count(&r->pixels);
  if (kept == 0) return "no pixel left: every one is zero, masked or outside the sector";
  SortedPixels sorted;
  error = sort_pixels(selection, kept, angles, request, g, h.size, &sorted, &r->pixels);
  if (!error.empty()) return error;
  times.sort_ms = ms_since(start);

  start = stage("integrate");
  BinStatistics stats;
  const bool median = request.statistic == Statistic::median;
  if (!call_integrate(median, sorted.keys, sorted.values, sorted.layout.centres, &stats, &error)) {
    return error;
  }
  Profile& p = r->profile;
  p.axis = request.axis;
  p.statistic = request.statistic;
  p.bin_width = sorted.layout.width;
  p.centre = sorted.layout.centres;
  p.count = bin_counts(sorted.layout, vokip_host::data_as<double>(sorted.keys), r->pixels.used);
  p.value = std::move(stats.centre_value);
  p.variance = std::move(stats.variance);
  p.spread = std::move(stats.spread);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < p.count.size(); ++i) {
    if (p.count[i] == 0) p.value[i] = p.variance[i] = p.spread[i] = nan;
  }
  times.integrate_ms = ms_since(start);
  return "";
}

}  // namespace

bool decode_image(const std::uint8_t* file, const Mar345Header& h,
                  std::vector<std::uint32_t>* image, std::string* error) {
  IDL_VPTR decoded = call_unpck(file + h.stream_offset, h.stream_length, h.size, h.size, error);
  if (!decoded) return false;
  *image =
      full_intensities(vokip_host::data_as<std::uint16_t>(decoded), h.pixel_count(), h.overflow);
  return true;
}

Reduction reduce_file(const std::string& path, const ReductionRequest& request,
                      const StageCallback& on_stage) {
  Reduction r;
  try {
    r.error = run(path, request, on_stage, &r);
  } catch (const std::bad_alloc&) {
    r.error = "out of memory";
  } catch (const std::exception& e) {
    r.error = e.what();
  }
  // Starting over releases the host's variables of this image.
  vokip_host::reset();
  return r;
}
