// The whole reduction of a 3450 x 3450 MAR345 file through the module, with
// the time of each stage (read, decode, angles, sort, integrate) as counters
// in ms, and the angle sort alone against std::sort.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "reduce/mar345_writer.h"
#include "reduce/memory_setup.h"
#include "reduce/radix_sort.h"
#include "reduce/reduction.h"
#include "sample/ring_pattern.h"

namespace {

constexpr int kSize = 3450;

RingPattern pattern() {
  RingPattern s;
  s.size = kSize;
  s.pixel_um = 100;
  s.distance_mm = 180;
  s.center_x_px = 1725.4;
  s.center_y_px = 1719.8;
  s.tilt_deg = 0.5;
  s.tilt_direction_deg = 40;
  s.overflow_pixels = 20;
  return s;
}

// The image file, made once per run in the temporary folder.
const std::string& image_file() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string p = std::string(dir && *dir ? dir : "/tmp") + "/vokip_bench_" +
                    std::to_string(::getpid()) + ".mar3450";
    const RingPattern s = pattern();
    std::string error;
    if (!write_file_bytes(p, write_mar345(ring_pattern_file(s, make_ring_image(s))), &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    std::atexit([] { std::remove(image_file().c_str()); });
    return p;
  }();
  return path;
}

void BM_ReduceFile(benchmark::State& state) {
  ReductionRequest request;
  request.statistic = state.range(0) ? Statistic::median : Statistic::mean;
  request.geometry.tilt_deg = pattern().tilt_deg;
  request.geometry.tilt_direction_deg = pattern().tilt_direction_deg;
  request.bins.count = 3000;
  const std::string& path = image_file();
  StageTimes sum;
  for (auto _ : state) {
    const Reduction r = reduce_file(path, request);
    if (!r.ok()) {
      state.SkipWithError(r.error.c_str());
      return;
    }
    benchmark::DoNotOptimize(r.profile.value.data());
    sum.read_ms += r.times.read_ms;
    sum.decode_ms += r.times.decode_ms;
    sum.angles_ms += r.times.angles_ms;
    sum.sort_ms += r.times.sort_ms;
    sum.integrate_ms += r.times.integrate_ms;
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["read_ms"] = sum.read_ms / n;
  state.counters["decode_ms"] = sum.decode_ms / n;
  state.counters["angles_ms"] = sum.angles_ms / n;
  state.counters["sort_ms"] = sum.sort_ms / n;
  state.counters["integrate_ms"] = sum.integrate_ms / n;
  state.counters["total_ms"] = sum.total_ms() / n;
}
BENCHMARK(BM_ReduceFile)
    ->ArgName("median")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Angles of every pixel of the image, in pixel order.
const std::vector<double>& angles() {
  static const std::vector<double> a = [] {
    const RingPattern s = pattern();
    std::vector<double> out(std::size_t{kSize} * kSize);
    for (int row = 0; row < kSize; ++row) {
      for (int col = 0; col < kSize; ++col) {
        out[std::size_t{kSize} * row + col] = pixel_two_theta(s, col, row);
      }
    }
    return out;
  }();
  return a;
}

void BM_RadixSortAngles(benchmark::State& state) {
  const std::vector<double>& keys = angles();
  const std::size_t n = keys.size();
  std::vector<std::uint32_t> values(n);
  std::iota(values.begin(), values.end(), 0u);
  std::vector<double> sorted_keys(n), sorted_values(n);
  for (auto _ : state) {
    radix_sort_pairs(keys.data(), values.data(), n, sorted_keys.data(), sorted_values.data());
    benchmark::DoNotOptimize(sorted_keys.data());
    benchmark::DoNotOptimize(sorted_values.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_RadixSortAngles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StdSortAngles(benchmark::State& state) {
  const std::vector<double>& keys = angles();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::pair<std::uint64_t, std::uint32_t>> pairs(keys.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      pairs[i] = {order_key(keys[i]), static_cast<std::uint32_t>(i)};
    }
    state.ResumeTiming();
    std::sort(pairs.begin(), pairs.end());
    benchmark::DoNotOptimize(pairs.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
}
BENCHMARK(BM_StdSortAngles)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  restart_with_huge_pages(argv);
  keep_freed_memory();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
