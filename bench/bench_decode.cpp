// Decoding speed on full-size 3450 x 3450 plates packed by the test packer:
// diffraction rings on a falling background with counting noise (the usual
// case), and uniform noise over the full 16-bit range (the most bits per pixel).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "decode/test_images.h"
#include "decode/unpack_image.h"
#include "support/packer.h"

namespace {

constexpr std::int64_t kSide = 3450;
constexpr std::int64_t kPixels = kSide * kSide;

void decode_benchmark(benchmark::State& state, const std::vector<std::uint16_t>& image) {
  PackOptions options;
  options.rule = DifferenceRule::counts;
  const std::vector<std::uint8_t> stream = pack_image(image.data(), kPixels, kSide, options);
  const std::int64_t stream_count = static_cast<std::int64_t>(stream.size());
  std::vector<std::uint16_t> output(image.size());
  for (auto _ : state) {
    const UnpackResult result =
        unpack_image(stream.data(), stream_count, output.data(), kPixels, kSide);
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  if (output != image) state.SkipWithError("decoded image differs from the packed one");
  // Inverted rate of n * 1e-9 pixels per second: nanoseconds per pixel.
  state.counters["ns_per_pixel"] = benchmark::Counter(
      static_cast<double>(kPixels) * 1e-9,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["bits_per_pixel"] = 8.0 * static_cast<double>(stream.size()) / kPixels;
}

void BM_DecodeRingsWithNoise(benchmark::State& state) {
  static const std::vector<std::uint16_t> image = test_images::rings(kSide, kSide, 1.0, 2026);
  decode_benchmark(state, image);
}
BENCHMARK(BM_DecodeRingsWithNoise)->Unit(benchmark::kMillisecond);

void BM_DecodeUniformNoise(benchmark::State& state) {
  static const std::vector<std::uint16_t> image = test_images::uniform(kPixels, 2027);
  decode_benchmark(state, image);
}
BENCHMARK(BM_DecodeUniformNoise)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
