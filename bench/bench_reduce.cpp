// The reduction engine on a 3450 x 3450 MAR345 image (11.9 million pixels):
// making a plan (angles of every pixel and their order), and then, per image
// with the plan reused, decoding and reducing, as a batch does.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "engine/formats/mar345.h"
#include "engine/run/reduce.h"
#include "support/mar345_writer.h"
#include "support/ring_pattern.h"

namespace {

using namespace vokip;

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

const std::vector<std::uint8_t>& file_bytes() {
  static const std::vector<std::uint8_t> bytes = [] {
    const RingPattern s = pattern();
    return write_mar345(ring_pattern_file(s, make_ring_image(s)));
  }();
  return bytes;
}

const Mar345Header& header() {
  static const Mar345Header h = parse_mar345(file_bytes().data(), file_bytes().size());
  return h;
}

PlanParameters parameters() {
  PlanParameters s;
  s.width = s.height = kSize;
  const RingPattern p = pattern();
  s.geometry.distance_mm = p.distance_mm;
  s.geometry.pixel_x_um = s.geometry.pixel_y_um = p.pixel_um;
  s.geometry.center_x_px = p.center_x_px;
  s.geometry.center_y_px = p.center_y_px;
  s.geometry.tilt_deg = p.tilt_deg;
  s.geometry.tilt_direction_deg = p.tilt_direction_deg;
  s.bins.count = 3000;
  return s;
}

void BM_MakePlan(benchmark::State& state) {
  const PlanParameters s = parameters();
  for (auto _ : state) {
    const Plan plan(s);
    benchmark::DoNotOptimize(plan.members().pixels);
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{kSize} * kSize);
}
BENCHMARK(BM_MakePlan)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_DecodeImage(benchmark::State& state) {
  Image image;
  image.decode(file_bytes().data(), header());
  for (auto _ : state) {
    image.decode(file_bytes().data(), header());
    benchmark::DoNotOptimize(image.value(0));
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{kSize} * kSize);
}
BENCHMARK(BM_DecodeImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The plan of a way of splitting pixels (none, bbox, full), with the
// solid-angle correction, made once.
const Plan& plan_for(Split split) {
  static std::map<Split, std::unique_ptr<Plan>> plans;
  std::unique_ptr<Plan>& plan = plans[split];
  if (!plan) {
    PlanParameters s = parameters();
    s.split = split;
    s.corrections.solid_angle = true;
    plan = std::make_unique<Plan>(s);
  }
  return *plan;
}

// One image reduced with a plan made before; Arg: split (none, bbox, full),
// median, threads.
void BM_ReduceImage(benchmark::State& state) {
  const Plan& plan = plan_for(static_cast<Split>(state.range(0)));
  Image image;
  image.decode(file_bytes().data(), header());
  const Statistic statistic = state.range(1) ? Statistic::median : Statistic::mean;
  std::vector<Workspace> workspaces(static_cast<std::size_t>(state.range(2)));
  RunOptions options;
  options.statistic = statistic;
  // The binning made before too, as a batch's first image makes it.
  reduce_image(plan, image, options, &workspaces);
  for (auto _ : state) {
    const Profile p = reduce_image(plan, image, options, &workspaces);
    benchmark::DoNotOptimize(p.value.data());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{kSize} * kSize);
}
BENCHMARK(BM_ReduceImage)
    ->ArgNames({"split", "median", "threads"})
    ->Args({0, 0, 1})
    ->Args({0, 0, 2})
    ->Args({0, 1, 2})
    ->Args({1, 0, 1})
    ->Args({1, 0, 2})
    ->Args({1, 1, 2})
    ->Args({2, 0, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The cake (360 azimuth bins) beside the profile, against the profile
// alone, per image with the plan made before; Arg: azimuth bins.
void BM_ReduceImageWithCake(benchmark::State& state) {
  PlanParameters s = parameters();
  s.azimuth_bins = static_cast<int>(state.range(0));
  const Plan plan(s);
  Image image;
  image.decode(file_bytes().data(), header());
  std::vector<Workspace> workspaces(2);
  const RunOptions options;
  for (auto _ : state) {
    const Profile p = reduce_image(plan, image, options, &workspaces);
    benchmark::DoNotOptimize(p.cake.value.data());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{kSize} * kSize);
}
BENCHMARK(BM_ReduceImageWithCake)
    ->ArgName("azimuth_bins")
    ->Arg(0)
    ->Arg(360)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
