// Calibration of a 3450 x 3450 MAR345 image of LaB6 rings, tilted plate,
// from a start whose centre is 30 pixels and distance 3 % off: decoding the
// file, finding the centre, the ring points and the fitted geometry.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "engine/calibrate/calibrate.h"
#include "engine/formats/image.h"
#include "engine/formats/mar345.h"
#include "support/mar345_writer.h"
#include "support/ring_pattern.h"

namespace {

using namespace vokip;

RingPattern pattern() {
  RingPattern s;
  s.size = 3450;
  s.pixel_um = 100;
  s.distance_mm = 250;
  s.wavelength_angstrom = 0.7;
  s.center_x_px = 1725.4;
  s.center_y_px = 1719.8;
  s.tilt_deg = 4;
  s.tilt_direction_deg = 130;
  s.rings = rings_of_d_spacings(builtin_calibrant("LaB6").d_spacings_angstrom,
                                s.wavelength_angstrom, 0.06, {3000, 1500, 1000, 800, 600});
  s.background = 200;
  s.beam_stop_radius_px = 40;
  s.plate_radius_px = 1725;
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

void BM_CalibrateFile(benchmark::State& state) {
  const RingPattern p = pattern();
  const Calibrant lab6 = builtin_calibrant("LaB6");
  CalibrationStart start;
  start.geometry.distance_mm = p.distance_mm * 1.03;
  start.geometry.pixel_x_um = start.geometry.pixel_y_um = p.pixel_um;
  start.geometry.center_x_px = p.center_x_px + 30;
  start.geometry.center_y_px = p.center_y_px - 20;
  start.geometry.wavelength_angstrom = p.wavelength_angstrom;
  const std::vector<std::uint8_t>& bytes = file_bytes();
  Calibration calibration;
  for (auto _ : state) {
    const Mar345Header header = parse_mar345(bytes.data(), bytes.size());
    Image image;
    image.decode(bytes.data(), header);
    calibration = calibrate(PlateImage(image, nullptr), lab6, start, CalibrationSettings());
    benchmark::DoNotOptimize(calibration.geometry.distance_mm);
  }
  state.counters["rings"] = static_cast<double>(calibration.rings.size());
  state.counters["points"] = static_cast<double>(calibration.points.size());
  state.counters["centre_error_px"] = std::hypot(calibration.geometry.center_x_px - p.center_x_px,
                                                 calibration.geometry.center_y_px - p.center_y_px);
}
BENCHMARK(BM_CalibrateFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
