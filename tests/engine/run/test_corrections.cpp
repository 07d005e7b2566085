// Corrections as a reduction applies them: an image of uniform scattered
// intensity (made here through each pixel's ray) comes out flat; a dark
// equal to the image gives zeros, a flat of 2 halves the profile; the error
// models' sigmas of a constant image; raw-value limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "engine/geometry/lab_frame.h"
#include "engine/run/reducer.h"
#include "support/mar345_writer.h"
#include "support/poni_ray.h"
#include "support/test_files.h"

namespace vokip {
namespace {

constexpr int kSize = 240;

// A tilted plate in .poni terms, turned about the beam too.
PoniGeometry plate() {
  PoniGeometry p;
  p.distance_m = 0.05;
  p.poni1_m = 0.0171;
  p.poni2_m = 0.0189;
  p.rot1_rad = 0.07;
  p.rot2_rad = -0.05;
  p.rot3_rad = 0.4;
  p.pixel1_m = p.pixel2_m = 150e-6;
  p.wavelength_m = 1e-10;
  return p;
}

// The plate's efficiency for the pixel's ray, relative to normal incidence.
double absorption(const PoniGeometry& p, int column, int row, double mu_t) {
  const double cos_incidence = p.distance_m / poni_ray(p, column, row).length();
  return (1 - std::exp(-mu_t / cos_incidence)) / (1 - std::exp(-mu_t));
}

// The solid angle, polarization and plate absorption of the pixel's ray.
double ray_factor(const PoniGeometry& p, int column, int row, double polarization, double mu_t) {
  const PoniRay ray = poni_ray(p, column, row);
  const double solid_angle = std::pow(p.distance_m / ray.length(), 3);
  const double two_theta = ray.two_theta_rad(), chi = ray.chi_rad();
  const double pol = (1 + std::pow(std::cos(two_theta), 2) -
                      polarization * std::cos(2 * chi) * std::pow(std::sin(two_theta), 2)) /
                     2;
  return solid_angle * pol * absorption(p, column, row, mu_t);
}

class Corrected : public ::testing::Test {
 protected:
  FileReduction reduce(const std::vector<std::uint16_t>& low, const ReductionRequest& request) {
    const std::string path = dir_.file("image.mar2300");
    write_bytes(path, write_mar345(small_contents(kSize, low)));
    return FileReducer(request).reduce(path);
  }
  ReductionRequest request() const {
    ReductionRequest r;
    r.split = Split::none;
    r.geometry.base = from_poni(plate());
    r.bins.count = 60;
    return r;
  }
  static std::shared_ptr<ValueImage> image_of(const std::vector<float>& values) {
    auto image = std::make_shared<ValueImage>();
    image->width = image->height = kSize;
    image->values = values;
    return image;
  }
  TempDir dir_;
};

TEST_F(Corrected, UniformScatteringComesOutFlat) {
  const double intensity = 20000, polarization = 0.9, mu_t = 0.8;
  std::vector<std::uint16_t> low(kSize * kSize);
  for (int row = 0; row < kSize; ++row) {
    for (int col = 0; col < kSize; ++col) {
      low[row * kSize + col] = static_cast<std::uint16_t>(
          std::lround(intensity * ray_factor(plate(), col, row, polarization, mu_t)));
    }
  }
  ReductionRequest r = request();
  r.corrections.polarization = polarization;
  r.corrections.plate_absorption = mu_t;
  for (const Split split : {Split::none, Split::bbox, Split::full}) {
    r.split = split;
    const FileReduction corrected = reduce(low, r);
    ASSERT_TRUE(corrected.ok()) << corrected.error();
    double worst = 0;
    for (std::size_t i = 0; i < corrected.profile.value.size(); ++i) {
      if (corrected.profile.count[i] == 0) continue;
      worst = std::max(worst, std::fabs(corrected.profile.value[i] / intensity - 1));
    }
    // Rounding the raw values to whole counts is all that is left.
    EXPECT_LT(worst, 2e-4) << split_name(split);
  }
  r.split = Split::none;

  // Each pixel's normalisation, the product of its ray's factors.
  PlanParameters parameters = plan_parameters(r, kSize, kSize, GeometryFields());
  parameters.corrections.solid_angle = false;
  parameters.corrections.polarization.reset();
  const Plan plan(parameters);
  const PixelList members = plan.members();
  for (std::int64_t k = 0; k < members.size; k += members.size / 7) {
    const int column = static_cast<int>(members.pixels[k] % kSize);
    const int row = static_cast<int>(members.pixels[k] / kSize);
    EXPECT_NEAR(plan.norms()[k], absorption(plate(), column, row, mu_t), 1e-12);
  }
  EXPECT_GT(plan.norms()[members.size - 1], 1.02);  // far from the normal, a longer path

  // Uncorrected, the same image falls off by tens of percent.
  r.corrections.solid_angle = false;
  r.corrections.polarization.reset();
  r.corrections.plate_absorption.reset();
  const FileReduction raw = reduce(low, r);
  ASSERT_TRUE(raw.ok()) << raw.error();
  double lowest = intensity, highest = 0;
  for (std::size_t i = 0; i < raw.profile.value.size(); ++i) {
    if (raw.profile.count[i] == 0) continue;
    lowest = std::min(lowest, raw.profile.value[i]);
    highest = std::max(highest, raw.profile.value[i]);
  }
  EXPECT_LT(lowest / highest, 0.8);
}

TEST_F(Corrected, DarkAndFlatIdentities) {
  std::vector<std::uint16_t> low(kSize * kSize);
  std::vector<float> same(kSize * kSize), twos(kSize * kSize, 2.0f);
  for (int i = 0; i < kSize * kSize; ++i) {
    low[i] = static_cast<std::uint16_t>(1 + (i * 7919) % 4000);
    same[i] = low[i];
  }
  ReductionRequest r = request();
  r.corrections.solid_angle = false;
  const FileReduction plain = reduce(low, r);
  ASSERT_TRUE(plain.ok()) << plain.error();

  r.corrections.dark = image_of(same);
  const FileReduction dark = reduce(low, r);
  ASSERT_TRUE(dark.ok()) << dark.error();
  for (std::size_t i = 0; i < dark.profile.value.size(); ++i) {
    if (dark.profile.count[i] > 0) {
      EXPECT_EQ(dark.profile.value[i], 0) << "bin " << i;
    }
  }

  r.corrections.dark.reset();
  r.corrections.flat = image_of(twos);
  const FileReduction halved = reduce(low, r);
  ASSERT_TRUE(halved.ok()) << halved.error();
  ASSERT_EQ(halved.profile.count, plain.profile.count);
  for (std::size_t i = 0; i < plain.profile.value.size(); ++i) {
    if (plain.profile.count[i] > 0) {
      EXPECT_NEAR(halved.profile.value[i], plain.profile.value[i] / 2,
                  1e-12 * plain.profile.value[i])
          << "bin " << i;
    }
  }

  // A dark or flat of another size is refused.
  auto small = std::make_shared<ValueImage>();
  small->width = small->height = 10;
  small->values.assign(100, 1.0f);
  r.corrections.flat = small;
  EXPECT_EQ(reduce(low, r).error(), "the flat is 10 x 10 pixels, the image 240 x 240");
  r.corrections.flat.reset();
  r.corrections.dark = small;
  EXPECT_EQ(reduce(low, r).error(), "the dark is 10 x 10 pixels, the image 240 x 240");
}

TEST_F(Corrected, FlatPixelsThatAreNotPositiveAreLeftOut) {
  const std::vector<std::uint16_t> low(kSize * kSize, 500);
  std::vector<float> flat(kSize * kSize, 1.0f);
  flat[0] = 0;
  flat[1] = -1;
  flat[2] = std::nanf("");
  ReductionRequest r = request();
  r.corrections.flat = image_of(flat);
  const FileReduction result = reduce(low, r);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.profile.pixels.masked, 3);
  for (std::size_t i = 0; i < result.profile.value.size(); ++i) {
    if (result.profile.count[i] > 0) {
      EXPECT_TRUE(std::isfinite(result.profile.value[i]));
    }
  }
}

TEST_F(Corrected, SigmasOfAConstantImage) {
  const double value = 900;
  const std::vector<std::uint16_t> low(kSize * kSize, static_cast<std::uint16_t>(value));
  ReductionRequest r = request();
  r.corrections.solid_angle = false;
  r.run.error_model = ErrorModel::poisson;
  const FileReduction poisson = reduce(low, r);
  ASSERT_TRUE(poisson.ok()) << poisson.error();
  const Profile& p = poisson.profile;
  ASSERT_EQ(p.sigma.size(), p.value.size());
  for (std::size_t i = 0; i < p.value.size(); ++i) {
    if (p.count[i] == 0) {
      EXPECT_TRUE(std::isnan(p.sigma[i]));
      continue;
    }
    EXPECT_NEAR(p.sigma[i], std::sqrt(value / p.count[i]), 1e-12 * value) << "bin " << i;
  }
  // With a flat of 3 the values and their errors are divided by 3.
  r.corrections.flat = image_of(std::vector<float>(kSize * kSize, 3.0f));
  const FileReduction scaled = reduce(low, r);
  for (std::size_t i = 0; i < p.value.size(); ++i) {
    if (p.count[i] > 0) {
      EXPECT_NEAR(scaled.profile.sigma[i], p.sigma[i] / 3, 1e-12) << i;
    }
  }

  r.corrections.flat.reset();
  r.run.error_model = ErrorModel::azimuthal;
  const FileReduction azimuthal = reduce(low, r);
  for (std::size_t i = 0; i < p.value.size(); ++i) {
    if (p.count[i] > 0) {
      EXPECT_EQ(azimuthal.profile.sigma[i], 0) << "bin " << i;
    }
  }
}

TEST_F(Corrected, LimitsLeaveOutDeadAndSaturatedPixels) {
  std::vector<std::uint16_t> low(kSize * kSize, 1000);
  for (int i = 0; i < 50; ++i) low[i * 97] = 3;           // dead
  for (int i = 0; i < 20; ++i) low[i * 131 + 5] = 65000;  // saturated
  ReductionRequest r = request();
  r.corrections.solid_angle = false;
  r.run.low = 10;
  r.run.high = 60000;
  const FileReduction result = reduce(low, r);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.profile.pixels.outside_limits, 70);
  EXPECT_EQ(result.profile.pixels.used + result.profile.pixels.outside_limits +
                result.profile.pixels.off_range,
            kSize * kSize);
  for (std::size_t i = 0; i < result.profile.value.size(); ++i) {
    if (result.profile.count[i] > 0) {
      EXPECT_EQ(result.profile.value[i], 1000) << "bin " << i;
    }
  }
}

}  // namespace
}  // namespace vokip
