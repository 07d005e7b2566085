// Per-pixel cost of the two geometry maps on a full 3450 x 3450 image, in grid
// addressing (one x per column, one y per row) and element-wise (one pair per
// pixel).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "geometry/azimuth_map.h"
#include "geometry/polar_angle_map.h"

namespace {

constexpr std::int64_t kSide = 3450;
constexpr std::int64_t kPixels = kSide * kSide;

// Pixel coordinates relative to a beam centre near the middle, 0.1 units apart.
std::vector<double> axis_coordinates() {
  std::vector<double> c(kSide);
  for (std::int64_t i = 0; i < kSide; ++i) c[i] = (i - 1725.3) * 0.1;
  return c;
}

struct Coordinates {
  std::vector<double> x = axis_coordinates(), y = axis_coordinates();
  std::vector<double> pair_x, pair_y;
  Coordinates() {
    pair_x.reserve(kPixels);
    pair_y.reserve(kPixels);
    for (std::int64_t row = 0; row < kSide; ++row) {
      for (std::int64_t col = 0; col < kSide; ++col) {
        pair_x.push_back(x[col]);
        pair_y.push_back(y[row]);
      }
    }
  }
};

const Coordinates& coordinates() {
  static const Coordinates c;
  return c;
}

void report(benchmark::State& state) {
  state.counters["ns_per_pixel"] =
      benchmark::Counter(static_cast<double>(kPixels) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PolarAngleGrid(benchmark::State& state) {
  const Coordinates& c = coordinates();
  std::vector<double> out(kPixels);
  for (auto _ : state) {
    polar_angle_map(0.25, 12.5, 37, c.x.data(), kSide, c.y.data(), kSide, out.data(), kPixels,
                    kSide);
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

void BM_PolarAngleElementWise(benchmark::State& state) {
  const Coordinates& c = coordinates();
  std::vector<double> out(kPixels);
  for (auto _ : state) {
    polar_angle_map(0.25, 12.5, 37, c.pair_x.data(), kPixels, c.pair_y.data(), kPixels, out.data(),
                    kPixels, kSide);
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

void BM_AzimuthGrid(benchmark::State& state) {
  const Coordinates& c = coordinates();
  std::vector<double> out(kPixels);
  for (auto _ : state) {
    azimuth_map(c.y.data(), kSide, c.x.data(), kSide, out.data(), kPixels, kSide);
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

void BM_AzimuthElementWise(benchmark::State& state) {
  const Coordinates& c = coordinates();
  std::vector<double> out(kPixels);
  for (auto _ : state) {
    azimuth_map(c.pair_y.data(), kPixels, c.pair_x.data(), kPixels, out.data(), kPixels, kSide);
    benchmark::DoNotOptimize(out.data());
  }
  report(state);
}

}  // namespace

BENCHMARK(BM_PolarAngleGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PolarAngleElementWise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AzimuthGrid)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AzimuthElementWise)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
