#include "support/ring_pattern.h"

#include <cmath>
#include <random>

#include "support/packer.h"

namespace vokip {

namespace {

const double kPi = std::acos(-1.0);

struct Vec3 {
  double x, y, z;
};

double dot(const Vec3& a, const Vec3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The plate placed in space: turned by -tilt about (-sin, cos, 0) of the
// tilt direction, which carries (cos, sin, 0) towards +z, away from the
// sample (Rodrigues' rotation, its sine and cosine worked out once).
class PlacedPlate {
 public:
  explicit PlacedPlate(const RingPattern& p) : p_(p) {
    const double direction = p.tilt_direction_deg * kPi / 180;
    axis_ = {-std::sin(direction), std::cos(direction), 0};
    cos_ = std::cos(-p.tilt_deg * kPi / 180);
    sin_ = std::sin(-p.tilt_deg * kPi / 180);
  }

  double two_theta(int column, int row) const {
    const Vec3 v{(column + 0.5 - p_.center_x_px) * p_.pixel_um / 1000,
                 (row + 0.5 - p_.center_y_px) * p_.pixel_um / 1000, 0};
    const Vec3 k = cross(axis_, v);
    const double along = dot(axis_, v) * (1 - cos_);
    const Vec3 on_plate{v.x * cos_ + k.x * sin_ + axis_.x * along,
                        v.y * cos_ + k.y * sin_ + axis_.y * along,
                        v.z * cos_ + k.z * sin_ + axis_.z * along};
    const Vec3 from_sample{on_plate.x, on_plate.y, on_plate.z + p_.distance_mm};
    return std::acos(from_sample.z / std::sqrt(dot(from_sample, from_sample))) * 180 / kPi;
  }

 private:
  const RingPattern& p_;
  Vec3 axis_;
  double cos_, sin_;
};

}  // namespace

std::vector<Ring> silicon_rings(double wavelength) {
  const double a = 5.431020511;  // silicon's cell edge in angstrom
  const int hkl[][3] = {{1, 1, 1}, {2, 2, 0}, {3, 1, 1}, {4, 0, 0},
                        {3, 3, 1}, {4, 2, 2}, {5, 1, 1}};
  const double heights[] = {3000, 2200, 1500, 700, 900, 1100, 600};
  std::vector<Ring> rings;
  for (int k = 0; k < 7; ++k) {
    const double d =
        a /
        std::sqrt(double(hkl[k][0] * hkl[k][0] + hkl[k][1] * hkl[k][1] + hkl[k][2] * hkl[k][2]));
    const double s = wavelength / (2 * d);
    if (s >= 1) break;
    rings.push_back({2 * std::asin(s) * 180 / kPi, 0.12, heights[k]});
  }
  return rings;
}

std::vector<Ring> rings_of_d_spacings(const std::vector<double>& d_angstrom, double wavelength,
                                      double fwhm_deg, const std::vector<double>& heights) {
  std::vector<Ring> rings;
  for (double d : d_angstrom) {
    const double s = wavelength / (2 * d);
    if (s >= 1) continue;
    rings.push_back(
        {2 * std::asin(s) * 180 / kPi, fwhm_deg, heights[rings.size() % heights.size()]});
  }
  return rings;
}

double pixel_two_theta(const RingPattern& pattern, int column, int row) {
  return PlacedPlate(pattern).two_theta(column, row);
}

std::vector<std::uint32_t> make_ring_image(const RingPattern& pattern) {
  const std::vector<Ring> rings =
      pattern.rings.empty() ? silicon_rings(pattern.wavelength_angstrom) : pattern.rings;
  const int n = pattern.size;
  std::mt19937 random(pattern.seed);
  std::normal_distribution<double> unit_normal(0.0, 1.0);
  std::vector<std::uint32_t> image(static_cast<std::size_t>(n) * n);
  const PlacedPlate plate(pattern);
  std::vector<double> sigmas;
  for (const Ring& ring : rings)
    sigmas.push_back(ring.fwhm_deg / (2 * std::sqrt(2 * std::log(2.0))));
  for (int row = 0; row < n; ++row) {
    for (int col = 0; col < n; ++col) {
      const double two_theta = plate.two_theta(col, row);
      double counts = pattern.background * std::exp2(-two_theta / 20);
      for (std::size_t k = 0; k < rings.size(); ++k) {
        const Ring& ring = rings[k];
        const double u = (two_theta - ring.two_theta_deg) / sigmas[k];
        if (std::fabs(u) < 8) counts += ring.height * std::exp(-0.5 * u * u);
      }
      const bool shadowed =
          std::hypot(col + 0.5 - pattern.center_x_px, row + 0.5 - pattern.center_y_px) <
          pattern.beam_stop_radius_px;
      if (shadowed) counts *= pattern.beam_stop_transmission;
      if (pattern.noise && pattern.poisson_noise && counts > 0) {
        counts = static_cast<double>(std::poisson_distribution<long>(counts)(random));
      } else if (pattern.noise && !pattern.poisson_noise) {
        counts += std::sqrt(counts) * unit_normal(random);
      }
      const bool off_plate =
          pattern.plate_radius_px > 0 &&
          std::hypot(col + 0.5 - n / 2.0, row + 0.5 - n / 2.0) > pattern.plate_radius_px;
      const bool no_data = off_plate || (shadowed && pattern.beam_stop_transmission == 0);
      image[static_cast<std::size_t>(row) * n + col] =
          no_data ? 0 : static_cast<std::uint32_t>(std::max(1.0, std::round(counts)));
    }
  }
  std::uniform_int_distribution<int> pick(0, n - 1);
  for (int k = 0; k < pattern.overflow_pixels; ++k) {
    const std::size_t at = static_cast<std::size_t>(pick(random)) * n + pick(random);
    image[at] = 70000 + static_cast<std::uint32_t>(k) * 199999;
  }
  return image;
}

Mar345Contents ring_pattern_file(const RingPattern& pattern,
                                 const std::vector<std::uint32_t>& image, ByteOrder byte_order) {
  std::vector<std::uint16_t> low(image.size());
  Mar345Contents c;
  for (std::size_t i = 0; i < image.size(); ++i) {
    low[i] = static_cast<std::uint16_t>(image[i]);
    if (image[i] > 65535) c.overflow.push_back({static_cast<std::uint32_t>(i + 1), image[i]});
  }
  c.size = pattern.size;
  // Blocks of eight pixels: the packer's own choice lets one steep ring edge
  // widen a block of up to 128 pixels, which makes the file half as large again.
  PackOptions options;
  options.run_codes = {3};
  c.stream = pack_image(low.data(), static_cast<std::int64_t>(low.size()), pattern.size, options);
  c.byte_order = byte_order;
  c.pixel_um = pattern.pixel_um;
  c.distance_mm = pattern.distance_mm;
  c.wavelength_angstrom = pattern.wavelength_angstrom;
  c.center_x_px = pattern.center_x_px;
  c.center_y_px = pattern.center_y_px;
  c.program = "vokip-make-sample";
  return c;
}

}  // namespace vokip
