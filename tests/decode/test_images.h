// Synthetic detector images for decoder tests and benchmarks. Deterministic
// for a given seed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace test_images {

// Every pixel drawn uniformly from the full 16-bit range.
inline std::vector<std::uint16_t> uniform(std::int64_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint16_t> image(static_cast<std::size_t>(n));
  for (auto& pixel : image) pixel = static_cast<std::uint16_t>(random() & 0xFFFF);
  return image;
}

// Low counts: a dark plate with a few counts of noise per pixel.
inline std::vector<std::uint16_t> low_counts(std::int64_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::poisson_distribution<int> counts(3.0);
  std::vector<std::uint16_t> image(static_cast<std::size_t>(n));
  for (auto& pixel : image) pixel = static_cast<std::uint16_t>(counts(random));
  return image;
}

// Diffraction rings around (centre_x, centre_y) on a background falling with
// the radius, with counting noise of the given scale (0 for a smooth image).
// Saturated pixels clip at 65535.
inline std::vector<std::uint16_t> rings(std::int64_t width, std::int64_t height, double noise,
                                        unsigned seed) {
  const double centre_x = 0.496 * width, centre_y = 0.503 * height;
  const double scale = std::max<double>(width, height) / 3450.0;
  const double ring_radius[] = {180, 310, 420, 615, 790, 1010, 1240, 1500, 1690};
  const double ring_height[] = {70000, 4000, 2500, 1800, 900, 700, 400, 250, 150};
  std::mt19937 random(seed);
  std::normal_distribution<double> unit_noise(0.0, 1.0);
  std::vector<std::uint16_t> image(static_cast<std::size_t>(width * height));
  for (std::int64_t row = 0; row < height; ++row) {
    for (std::int64_t col = 0; col < width; ++col) {
      const double r = std::hypot(col - centre_x, row - centre_y) / scale;
      double mean = 40.0 + 600.0 / (1.0 + r / 150.0);
      for (int k = 0; k < 9; ++k) {
        const double t = (r - ring_radius[k]) / 2.5;
        mean += ring_height[k] * std::exp(-0.5 * t * t);
      }
      if (r < 40) mean = 3.0;  // shadow of the beam stop
      const double counts = mean + noise * std::sqrt(mean) * unit_noise(random);
      image[row * width + col] = static_cast<std::uint16_t>(std::clamp(counts, 0.0, 65535.0));
    }
  }
  return image;
}

// A flat background with isolated pixels at 0 and at 65535.
inline std::vector<std::uint16_t> isolated_jumps(std::int64_t n, std::uint16_t background,
                                                 unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::uint16_t> image(static_cast<std::size_t>(n), background);
  for (std::int64_t i = 0; i < n; ++i) {
    const unsigned draw = random() % 16;
    if (draw == 0) image[i] = 0;
    if (draw == 1) image[i] = 65535;
  }
  return image;
}

}  // namespace test_images
