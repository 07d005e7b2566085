#include "reduce/reduction.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>
#include <new>
#include <stdexcept>

#include "host/host.h"
#include "reduce/module_calls.h"
#include "reduce/parallel_parts.h"
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
  double operator()(double two_theta) const {
    return axis == Axis::q ? q_from_two_theta(two_theta, wavelength) : two_theta;
  }
};

// First index in [0, n) whose axis value is not below the edge.
std::size_t first_not_below_key(const double* keys, std::size_t n, const AxisOf& axis_of,
                                double edge) {
  return static_cast<std::size_t>(
      std::partition_point(keys, keys + n, [&](double k) { return edge > axis_of(k); }) - keys);
}

// The pixels that take part, sorted by angle, as the host double arrays of
// keys and values the integration reads. The sort places each pixel's angle
// and intensity straight from the image and angle map into the host's own
// arrays and sorts them there, so a large image needs no other big buffers.
// Keys outside the bins are dropped; the arrays' tail past the used pixels
// holds NaN keys, which belong to no bin.
struct SortedPixels {
  IDL_VPTR keys = nullptr, values = nullptr;
  BinLayout layout;
};

// Every pixel's angle counted into the buckets of a sort over the angle
// map's range, each run of pixels into its own table: the part of the sort
// that needs no image, so it can run while the image is decoded.
RadixSort count_every_angle(const double* angles, std::size_t pixels) {
  RadixSort sort(finite_range(angles, pixels), pixels, parts_for(pixels));
  for (unsigned p = 0; p < sort.parts(); ++p) {
    const PartRange r = part_range(pixels, p, sort.parts());
    RadixSort::Counter count = sort.counter(p);
    for (std::size_t i = r.begin; i < r.end; ++i) count(angles[i]);
  }
  return sort;
}

// sort holds every pixel's angle counted (count_every_angle). The pixels are
// cut into the same runs, one per core, each selected and placed by a thread
// of its own; the sort keeps pixel order among equal angles all the same.
std::string sort_pixels(const PixelSelection& selection, const double* angles, RadixSort& sort,
                        const ReductionRequest& request, const Geometry& g, int size,
                        SortedPixels* out, PixelTally* tally) {
  const std::size_t pixels = static_cast<std::size_t>(selection.size());
  const unsigned parts = sort.parts();
  auto run_of = [&](unsigned p) { return part_range(pixels, p, parts); };

  // The pixels left out are taken back from the counts.
  std::vector<PixelTally> tallies(parts);
  run_parts(parts, [&](unsigned p) {
    const PartRange r = run_of(p);
    RadixSort::Counter count = sort.counter(p);
    tallies[p] = selection.count(
        static_cast<std::int64_t>(r.begin), static_cast<std::int64_t>(r.end),
        [](std::int64_t, std::uint32_t) {}, [&](std::int64_t i) { count.remove(angles[i]); });
  });
  *tally = PixelTally{};
  for (const PixelTally& t : tallies) *tally += t;
  const std::int64_t kept = tally->used;
  if (kept == 0) return "no pixel left: every one is zero, masked or outside the sector";
  const std::size_t n = static_cast<std::size_t>(kept);
  // Every element is written below: the first touch of this memory is then
  // shared between the threads.
  out->keys = vokip_host::make_array(IDL_TYP_DOUBLE, {kept}, vokip_host::Fill::none);
  out->values = vokip_host::make_array(IDL_TYP_DOUBLE, {kept}, vokip_host::Fill::none);
  double* keys = vokip_host::data_as<double>(out->keys);
  void* value_memory = vokip_host::data(out->values);
  sort.place_into(keys, value_memory, n);
  run_parts(parts, [&](unsigned p) {
    const PartRange r = run_of(p);
    RadixSort::Placer place = sort.placer(p);
    selection.for_each_taken(static_cast<std::int64_t>(r.begin), static_cast<std::int64_t>(r.end),
                             [&](std::int64_t i, std::uint32_t v) { place(angles[i], v); });
  });
  sort.finish(parts);
  double* values = static_cast<double*>(value_memory);

  // NaN angles sort last and belong to no bin.
  const std::size_t numbers = static_cast<std::size_t>(
      std::partition_point(keys, keys + n, [](double k) { return !std::isnan(k); }) - keys);
  if (numbers == 0) return "no pixel has an angle (the geometry gives none)";
  const AxisOf axis_of{request.axis, g.wavelength_angstrom.value_or(1)};
  std::string error;
  if (!lay_out_bins(request.bins, axis_of(keys[0]), axis_of(keys[numbers - 1]),
                    default_bin_count(g, size), &out->layout, &error)) {
    return error;
  }
  const std::size_t lo = first_not_below_key(keys, numbers, axis_of, out->layout.edges.front());
  const std::size_t hi = first_not_below_key(keys, numbers, axis_of, out->layout.edges.back());
  tally->used = static_cast<std::int64_t>(hi - lo);
  tally->off_range = kept - tally->used;
  if (tally->used == 0) return "no pixel lies inside the range of the bins";

  // Upwards every entry moves down to its place, or stays.
  if (lo > 0 || request.axis != Axis::two_theta) {
    for (std::size_t i = 0; i < hi - lo; ++i) {
      keys[i] = axis_of(keys[lo + i]);
      values[i] = values[lo + i];
    }
  }
  std::fill(keys + (hi - lo), keys + n, std::numeric_limits<double>::quiet_NaN());
  std::fill(values + (hi - lo), values + n, 0.0);
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

  start = stage("angles");
  if (!start_module(find_module_dir(request.module_dir), request.echo_module_messages, &error)) {
    return error;
  }
  IDL_VPTR angles = call_distortimageplate(g, h.size, h.size, &error);
  if (!angles) return error;
  IDL_VPTR azimuths = nullptr;
  if (request.sector) {
    azimuths = call_azimuthimageplate(g, h.size, h.size, &error);
    if (!azimuths) return error;
  }
  times.angles_ms = ms_since(start);

  start = stage("decode");
  // While the module decodes, another core counts the angles for the sort
  // (or this one, at get(), when no thread can be had).
  const double* angle_data = vokip_host::data_as<double>(angles);
  const std::size_t pixels = static_cast<std::size_t>(h.pixel_count());
  std::future<RadixSort> counted =
      std::async(std::launch::async | std::launch::deferred,
                 [angle_data, pixels] { return count_every_angle(angle_data, pixels); });
  IDL_VPTR image =
      call_unpck(bytes.data() + h.stream_offset, h.stream_length, h.size, h.size, &error);
  if (!image) return error;
  bytes = std::vector<std::uint8_t>();
  times.decode_ms = ms_since(start);

  start = stage("sort");
  const PixelSelection selection(vokip_host::data_as<std::uint16_t>(image), h.pixel_count(),
                                 h.overflow, request.mask ? request.mask->excluded.data() : nullptr,
                                 azimuths ? vokip_host::data_as<double>(azimuths) : nullptr,
                                 request.sector);
  SortedPixels sorted;
  RadixSort sort = counted.get();
  error = sort_pixels(selection, angle_data, sort, request, g, h.size, &sorted, &r->pixels);
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
