// Both integration cores over 12 million sorted keys in 2000 evenly spaced bins.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"

namespace {

constexpr std::int64_t kKeys = 12'000'000;
constexpr std::int64_t kBins = 2000;

struct Profile {
  std::vector<double> keys, values, centres;
};

// Sorted polar angles up to 40 degrees; values are 16-bit pixel intensities
// (many ties, as in a real image) or, with continuous set, distinct doubles.
const Profile& profile(bool continuous) {
  static Profile made[2];
  Profile& p = made[continuous ? 1 : 0];
  if (!p.keys.empty()) return p;
  std::mt19937_64 random(12345);
  std::uniform_real_distribution<double> angle(0.0, 40.0);
  std::uniform_int_distribution<int> intensity(0, 65535);
  std::normal_distribution<double> smooth(1000.0, 100.0);
  p.keys.resize(kKeys);
  p.values.resize(kKeys);
  for (auto& k : p.keys) k = angle(random);
  std::sort(p.keys.begin(), p.keys.end());
  for (auto& v : p.values) v = continuous ? smooth(random) : intensity(random);
  p.centres.resize(kBins);
  for (std::int64_t i = 0; i < kBins; ++i) p.centres[i] = (i + 0.5) * (40.0 / kBins);
  return p;
}

void run(benchmark::State& state, bool median_core, bool continuous) {
  const Profile& p = profile(continuous);
  std::vector<double> a(kBins), b(kBins), c(kBins);
  for (auto _ : state) {
    std::fill(a.begin(), a.end(), 0.0);
    std::fill(b.begin(), b.end(), 0.0);
    if (median_core) {
      integrate_median(p.keys.data(), kKeys, p.values.data(), p.centres.data(), kBins, a.data(),
                       b.data(), c.data(), kBins);
    } else {
      integrate_mean(p.keys.data(), kKeys, p.values.data(), p.centres.data(), kBins, a.data(),
                     b.data(), c.data(), kBins);
    }
    benchmark::DoNotOptimize(c.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_key"] =
      benchmark::Counter(static_cast<double>(kKeys) * state.iterations(),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_integrate_mean(benchmark::State& state) {
  run(state, false, false);
}
void BM_integrate_median_intensities(benchmark::State& state) {
  run(state, true, false);
}
void BM_integrate_median_continuous(benchmark::State& state) {
  run(state, true, true);
}

}  // namespace

BENCHMARK(BM_integrate_mean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_integrate_median_intensities)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_integrate_median_continuous)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
