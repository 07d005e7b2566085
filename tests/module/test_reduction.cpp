// A whole reduction through the loaded module, by procedure name, as a
// host-language program does it: decode, angles with a tilted plate, sort,
// integrate. The profile's peaks must fall on the rings the image was made of.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "host/host.h"
#include "support/packer.h"

namespace {

using vokip_host::Mode;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// Polar angle of a plate pixel, by placing it in space: the plate turned by
// tilt about the in-plane axis at direction rho + 90 degrees, then moved a
// distance D along the beam (the z axis).
double true_angle(double x, double y, double distance_um, double tilt_deg, double rho_deg) {
  const double ax = -std::sin(rho_deg * kDeg), ay = std::cos(rho_deg * kDeg);
  const double angle = -tilt_deg * kDeg;  // the side across the axis at +rho moves away
  const double c = std::cos(angle), s = std::sin(angle);
  const double along = ax * x + ay * y;
  // Rodrigues' rotation of (x, y, 0) about (ax, ay, 0).
  const double px = x * c + ax * along * (1 - c);
  const double py = y * c + ay * along * (1 - c);
  const double pz = (ax * y - ay * x) * s + distance_um;
  return std::atan2(std::hypot(px, py), pz) / kDeg;
}

struct Scene {
  int side = 240;
  double pixel_um = 150;
  double centre = 117.5;
  double distance_mm = 90;
  double tilt = 4;
  double rho = 30;
  std::vector<double> rings = {3.0, 6.5, 10.0, 13.5};
};

std::vector<std::uint16_t> ring_image(const Scene& s) {
  std::vector<std::uint16_t> image(static_cast<std::size_t>(s.side) * s.side);
  for (int row = 0; row < s.side; ++row) {
    for (int col = 0; col < s.side; ++col) {
      const double theta = true_angle((col - s.centre) * s.pixel_um, (row - s.centre) * s.pixel_um,
                                      s.distance_mm * 1000, s.tilt, s.rho);
      double intensity = 40 + 3 * ((row * 7 + col * 13) % 5);
      for (double ring : s.rings) {
        const double d = (theta - ring) / 0.08;
        intensity += 20000 * std::exp(-0.5 * d * d);
      }
      image[static_cast<std::size_t>(row) * s.side + col] =
          static_cast<std::uint16_t>(std::lround(intensity));
    }
  }
  return image;
}

// Bin indices that hold a local maximum well above the background.
std::vector<int> peaks(const std::vector<double>& profile) {
  std::vector<int> found;
  for (std::size_t i = 1; i + 1 < profile.size(); ++i) {
    if (profile[i] > 1000 && profile[i] >= profile[i - 1] && profile[i] > profile[i + 1])
      found.push_back(static_cast<int>(i));
  }
  return found;
}

class Reduction : public ::testing::TestWithParam<Mode> {};

TEST_P(Reduction, ProfilePeaksFallOnTheRingsAndOnlyTheDocumentedLinesArePrinted) {
  const Scene s;
  vokip_host::reset(GetParam());
  ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));

  const std::vector<std::uint16_t> original = ring_image(s);
  const auto stream =
      pack_image(original.data(), static_cast<std::int64_t>(original.size()), s.side);
  IDL_VPTR image = vokip_host::make_array(IDL_TYP_UINT, {s.side, s.side});
  ASSERT_TRUE(vokip_host::call("UNPCK", {vokip_host::make_bytes(stream), image}));
  const std::uint16_t* decoded = vokip_host::data_as<std::uint16_t>(image);
  ASSERT_TRUE(std::equal(original.begin(), original.end(), decoded));

  std::vector<double> x(s.side), y(s.side);
  for (int k = 0; k < s.side; ++k) x[k] = y[k] = (k - s.centre) * s.pixel_um;
  IDL_VPTR xs = vokip_host::make_array_from(IDL_TYP_DOUBLE, x);
  IDL_VPTR ys = vokip_host::make_array_from(IDL_TYP_DOUBLE, y);
  IDL_VPTR angles = vokip_host::make_array(IDL_TYP_DOUBLE, {s.side, s.side});
  ASSERT_TRUE(vokip_host::call("DISTORTIMAGEPLATE",
                               {vokip_host::make_scalar(IDL_TYP_DOUBLE, s.distance_mm),
                                vokip_host::make_scalar(IDL_TYP_DOUBLE, s.tilt),
                                vokip_host::make_scalar(IDL_TYP_DOUBLE, s.rho), xs, ys, angles}));
  IDL_VPTR azimuths = vokip_host::make_array(IDL_TYP_DOUBLE, {s.side, s.side});
  ASSERT_TRUE(vokip_host::call("AZIMUTHIMAGEPLATE", {ys, xs, azimuths}));

  // Sort the pixels by angle, as the host program does.
  const std::size_t n = original.size();
  const double* theta = vokip_host::data_as<double>(angles);
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](auto a, auto b) { return theta[a] < theta[b]; });
  std::vector<double> keys(n), values(n);
  for (std::size_t k = 0; k < n; ++k) {
    keys[k] = theta[order[k]];
    values[k] = decoded[order[k]];
  }
  const double step = 0.05;
  const int bins = static_cast<int>((keys.back() - keys.front()) / step);
  std::vector<double> centres(bins);
  for (int i = 0; i < bins; ++i) centres[i] = keys.front() + step * (i + 0.5);

  IDL_VPTR k = vokip_host::make_array_from(IDL_TYP_DOUBLE, keys);
  IDL_VPTR v = vokip_host::make_array_from(IDL_TYP_DOUBLE, values);
  IDL_VPTR c = vokip_host::make_array_from(IDL_TYP_DOUBLE, centres);
  for (const char* procedure : {"INTEGRATE", "INTEGRATE_MEDIAN"}) {
    IDL_VPTR profile = vokip_host::make_array(IDL_TYP_DOUBLE, {bins});
    IDL_VPTR second = vokip_host::make_array(IDL_TYP_DOUBLE, {bins});
    IDL_VPTR third = vokip_host::make_array(IDL_TYP_DOUBLE, {bins});
    ASSERT_TRUE(vokip_host::call(procedure, {k, v, c, profile, second, third}));
    const std::vector<int> found = peaks(vokip_host::values(profile));
    ASSERT_EQ(found.size(), s.rings.size()) << procedure;
    for (std::size_t r = 0; r < s.rings.size(); ++r) {
      EXPECT_NEAR(centres[found[r]], s.rings[r], step) << procedure << " ring " << r;
    }
  }

  const std::vector<std::string> expected = {
      "% UNPCK: Welcome to MAR image plate unpck routine.",
      "% UNPCK: Goodbye!.",
      "% DISTORTIMAGEPLATE: Calculating image plate distortion.",
      "% AZIMUTHIMAGEPLATE: Calculating image plate azimuths.",
  };
  EXPECT_EQ(vokip_host::printed(), expected);
}

INSTANTIATE_TEST_SUITE_P(BothHosts, Reduction, ::testing::Values(Mode::idl, Mode::open),
                         [](const auto& info) { return info.param == Mode::idl ? "idl" : "open"; });

}  // namespace
