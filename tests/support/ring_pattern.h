// Synthetic powder-diffraction images: rings at known 2-theta on a decaying
// background with counting noise, a dark beam-stop disc (value 0, no data,
// or a faint shadow), a circular plate edge beyond which there is no data,
// and a few single pixels above 65535, packed into MAR345 files.
#pragma once

#include <cstdint>
#include <vector>

#include "support/mar345_writer.h"

namespace vokip {

struct Ring {
  double two_theta_deg;
  double fwhm_deg;
  double height;  // counts above the background at the ring's centre
};

struct RingPattern {
  int size = 1200;
  double pixel_um = 150;
  double distance_mm = 150;
  double wavelength_angstrom = 0.71073;
  double center_x_px = 601.3, center_y_px = 597.6;
  double tilt_deg = 0, tilt_direction_deg = 0;
  std::vector<Ring> rings;     // empty: silicon's reflections at this wavelength
  double background = 25;      // counts at 2-theta 0, halving every 20 degrees
  bool noise = true;           // counting noise of standard deviation sqrt(counts)
  bool poisson_noise = false;  // counts drawn from Poisson distributions instead
  double beam_stop_radius_px = 20;
  double beam_stop_transmission = 0;  // share of the counts behind the beam stop; 0: no data
  double plate_radius_px = 0;         // no data farther than this from the image's middle; 0: none
  int overflow_pixels = 6;            // single pixels with intensities from 70000 to over 10^6
  std::uint32_t seed = 20240611;
};

// Rings at the 2-theta of the d-spacings (angstrom) that the wavelength
// reaches, all of one width, their heights cycling through the list.
std::vector<Ring> rings_of_d_spacings(const std::vector<double>& d_angstrom,
                                      double wavelength_angstrom, double fwhm_deg,
                                      const std::vector<double>& heights);

// Silicon's first reflections at the wavelength, as rings of modest width.
std::vector<Ring> silicon_rings(double wavelength_angstrom);

// 2-theta in degrees of the centre of pixel (column, row), from the plate's
// position in space: the plate turned by the tilt about the in-plane axis
// normal to the tilt direction, the side towards the direction moving away
// from the sample.
double pixel_two_theta(const RingPattern& pattern, int column, int row);

// The image, row-major, full 32-bit intensities.
std::vector<std::uint32_t> make_ring_image(const RingPattern& pattern);

// A MAR345 file of the image: values mod 65536 in the packed stream, the
// full values of pixels above 65535 in overflow records. Geometry goes in the
// header.
Mar345Contents ring_pattern_file(const RingPattern& pattern,
                                 const std::vector<std::uint32_t>& image,
                                 ByteOrder byte_order = ByteOrder::little);

}  // namespace vokip
