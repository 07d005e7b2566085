// Synthetic calibrant images for the calibration's tests: a calibrant's rings
// on a plate with counting noise, a beam stop, the plate's circular edge and
// pixels above 65535, written as MAR345 files whose header gives the
// geometry a scanner would (no tilt), or parts of it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/formats/image.h"
#include "engine/formats/mar345.h"
#include "support/mar345_writer.h"
#include "support/ring_pattern.h"

namespace vokip {

// A plate of size x size pixels of 150 um, 110 mm x size / 800 from the
// sample, with rings at the d-spacings (0.12 degrees wide) out to about 28
// degrees at its edge (for 0.7 angstrom).
inline RingPattern calibrant_pattern(const std::vector<double>& d_angstrom, int size = 640,
                                     double wavelength_angstrom = 0.7) {
  RingPattern p;
  p.size = size;
  p.pixel_um = 150;
  p.distance_mm = 110 * size / 800.0;
  p.wavelength_angstrom = wavelength_angstrom;
  p.center_x_px = size / 2.0 + 2.3;
  p.center_y_px = size / 2.0 - 3.6;
  p.rings = rings_of_d_spacings(d_angstrom, p.wavelength_angstrom, 0.12, {3000, 1500, 1000, 700});
  // None beyond what a plate tilted by 10 degrees can show.
  while (!p.rings.empty() && p.rings.back().two_theta_deg > 50) p.rings.pop_back();
  p.background = 200;
  p.poisson_noise = true;
  p.beam_stop_radius_px = 14;
  p.plate_radius_px = size / 2.0;
  p.overflow_pixels = 6;
  return p;
}

// What the file's header says where it differs from the pattern.
struct HeaderGeometry {
  std::optional<double> distance_mm;
  std::optional<double> center_x_px, center_y_px;
  bool wavelength = true;
  bool centre = true;
  bool pixel_size = true;
};

inline std::vector<std::uint8_t> calibrant_file(const RingPattern& pattern,
                                                const HeaderGeometry& header = {}) {
  Mar345Contents c = ring_pattern_file(pattern, make_ring_image(pattern));
  if (header.distance_mm) c.distance_mm = header.distance_mm;
  if (header.center_x_px) c.center_x_px = header.center_x_px;
  if (header.center_y_px) c.center_y_px = header.center_y_px;
  if (!header.wavelength) c.wavelength_angstrom.reset();
  if (!header.centre) c.center_x_px = c.center_y_px = std::nullopt;
  if (!header.pixel_size) c.pixel_um.reset();
  return write_mar345(c);
}

// The file's image, decoded as the engine reads it.
inline Image decoded(const std::vector<std::uint8_t>& file) {
  const Mar345Header header = parse_mar345(file.data(), file.size());
  Image image;
  image.decode(file.data(), header);
  return image;
}

}  // namespace vokip
