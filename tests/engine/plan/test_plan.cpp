// Plans: every pixel in exactly one place, members in ascending key order
// with equal angles in pixel order (also when sorted in parts), the pixels
// left out by reason, bins shared by images of the same extent, and the
// parameters that cannot be planned.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/geometry/lab_frame.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/plan/plan.h"
#include "integrate/bin_scanner.h"

namespace vokip {
namespace {

PlanParameters spec_of(int size, double pixel_um = 100) {
  PlanParameters s;
  s.width = s.height = size;
  s.geometry.distance_mm = 100;
  s.geometry.pixel_x_um = s.geometry.pixel_y_um = pixel_um;
  s.geometry.center_x_px = s.geometry.center_y_px = size / 2.0;
  s.geometry.wavelength_angstrom = 1.0;
  return s;
}

// The plan's order is a permutation of the pixels; the members ascend by
// key, equal keys in pixel order; each key is the pixel's angle in the unit.
void expect_sound_order(const Plan& plan, const std::vector<double>& angles) {
  const PixelList members = plan.members();
  std::vector<double> keys(static_cast<std::size_t>(members.size));
  plan.member_keys(0, members.size, keys.data());
  std::vector<bool> seen(static_cast<std::size_t>(plan.pixels()), false);
  const PixelList lists[] = {members, plan.masked(), plan.off_sector(), plan.without_angle()};
  std::int64_t total = 0;
  for (const PixelList& list : lists) {
    for (std::int64_t k = 0; k < list.size; ++k) {
      ASSERT_FALSE(seen[list.pixels[k]]) << "pixel " << list.pixels[k] << " twice";
      seen[list.pixels[k]] = true;
    }
    total += list.size;
  }
  ASSERT_EQ(total, plan.pixels());
  for (std::int64_t k = 0; k < members.size; ++k) {
    const std::uint32_t p = members.pixels[k];
    ASSERT_EQ(keys[k], key_of_two_theta(plan.parameters().unit, angles[p],
                                        plan.parameters().geometry.wavelength_angstrom))
        << "member " << k;
    if (k > 0) {
      ASSERT_LE(angles[members.pixels[k - 1]], angles[p]) << "member " << k;
      if (angles[members.pixels[k - 1]] == angles[p]) {
        ASSERT_LT(members.pixels[k - 1], p) << "equal angles out of pixel order at " << k;
      }
    }
  }
}

TEST(Plan, MembersAscendWithEqualAnglesInPixelOrder) {
  // The beam centre on a pixel corner: every angle comes four times or more.
  for (Unit unit : {Unit::two_theta_deg, Unit::q_inv_angstrom}) {
    const PlanParameters s = [&] {
      PlanParameters t = spec_of(40);
      t.unit = unit;
      return t;
    }();
    const Plan plan(s);
    const std::vector<double> angles = PixelAngles(s.geometry, 40, 40).two_theta_map();
    expect_sound_order(plan, angles);
    EXPECT_EQ(plan.members().size, 1600);
    std::int64_t ties = 0;
    for (std::int64_t k = 1; k < 1600; ++k) {
      ties += angles[plan.members().pixels[k]] == angles[plan.members().pixels[k - 1]];
    }
    EXPECT_GT(ties, 1000);
  }
}

TEST(Plan, LargeImagesAreSortedInPartsWithTheSameResult) {
  // Over two million members: the sort runs in several parts.
  const PlanParameters s = spec_of(1700, 60);
  const Plan plan(s);
  const std::vector<double> angles = PixelAngles(s.geometry, 1700, 1700).two_theta_map();
  ASSERT_GT(plan.members().size, std::int64_t{1} << 21);
  expect_sound_order(plan, angles);
}

TEST(Plan, LeftOutPixelsAreListedByTheirFirstReason) {
  PlanParameters s = spec_of(30);
  auto mask = std::make_shared<Mask>();
  mask->width = mask->height = 30;
  mask->excluded.assign(900, 0);
  for (int col = 0; col < 30; ++col) mask->excluded[5 * 30 + col] = 1;  // row 5
  s.mask = mask;
  s.sector = AzimuthSector{-90, 90};  // x > 0: columns 15 and up
  // With the sample on the plate, the pixel at the beam centre has no angle
  // (0 / 0); every other pixel lies at 90 degrees.
  s.geometry.distance_mm = 0;
  s.geometry.center_x_px = s.geometry.center_y_px = 15.5;
  const Plan plan(s);
  std::vector<double> angles(900), azimuths(900);
  PixelAngles(s.geometry, 30, 30).rows(0, 30, angles.data(), nullptr);
  // Sectors are of the azimuth chi in the laboratory frame.
  for (int row = 0; row < 30; ++row)
    LabFrame(s.geometry).chi_row(row, 30, azimuths.data() + row * 30);

  auto listed = [](const PixelList& l) {
    return std::vector<std::uint32_t>(l.pixels, l.pixels + l.size);
  };
  std::vector<std::uint32_t> masked, off, none;
  for (std::uint32_t p = 0; p < 900; ++p) {
    const bool inside = (azimuths[p] >= 270 && azimuths[p] < 360) || azimuths[p] < 90;
    if (mask->excluded[p]) {
      masked.push_back(p);
    } else if (!inside) {
      off.push_back(p);
    } else if (std::isnan(angles[p])) {
      none.push_back(p);
    }
  }
  EXPECT_EQ(listed(plan.masked()), masked);
  EXPECT_EQ(listed(plan.off_sector()), off);
  EXPECT_EQ(listed(plan.without_angle()), none);
  EXPECT_EQ(masked.size(), 30u);
  EXPECT_GT(off.size(), 300u);
  EXPECT_EQ(none, std::vector<std::uint32_t>{15 * 30 + 15});
  expect_sound_order(plan, angles);
}

TEST(Plan, ImagesOfOneExtentShareTheirBins) {
  PlanParameters s = spec_of(50);
  s.bins.count = 20;
  const Plan plan(s);
  const std::int64_t n = plan.members().size;
  std::vector<double> keys(static_cast<std::size_t>(n));
  plan.member_keys(0, n, keys.data());
  EXPECT_EQ(plan.member_key(17), keys[17]);
  const auto a = plan.binning(keys[10], keys[n - 1]);
  EXPECT_EQ(plan.binning(keys[10], keys[n - 1]), a);
  const auto b = plan.binning(keys[0], keys[n - 1]);
  EXPECT_NE(b, a);
  EXPECT_LT(b->layout.centres.front(), a->layout.centres.front());
  // The bins are the module's partition of the members' keys.
  ASSERT_EQ(b->starts.size(), 21u);
  EXPECT_EQ(b->starts.front(), 0);
  EXPECT_EQ(b->starts.back(), n);
  bin_scanner scanner(keys.data(), n, b->layout.centres.data(), 20);
  for (std::int64_t i = 0; i < 20; ++i) {
    const BinRange bin = scanner.next_bin(i);
    EXPECT_EQ(b->starts[i], bin.lo) << "bin " << i;
    EXPECT_EQ(b->starts[i + 1], bin.end) << "bin " << i;
  }
}

TEST(Plan, SpecsThatCannotBePlannedAreRefused) {
  auto error_of = [](const PlanParameters& s) {
    try {
      Plan plan(s);
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  PlanParameters q = spec_of(10);
  q.unit = Unit::q_inv_angstrom;
  q.geometry.wavelength_angstrom.reset();
  EXPECT_EQ(error_of(q), "the wavelength is not known (the unit q_A^-1 needs it)");
  PlanParameters masked = spec_of(10);
  auto mask = std::make_shared<Mask>();
  mask->width = 10;
  mask->height = 12;
  mask->excluded.assign(120, 0);
  masked.mask = mask;
  EXPECT_EQ(error_of(masked), "the mask is 10 x 12 pixels, the image 10 x 10");

  PlanParameters a = spec_of(10), b = spec_of(10);
  EXPECT_TRUE(a == b);
  b.mask = mask;
  EXPECT_FALSE(a == b);
  b = a;
  b.geometry.tilt_deg = 1e-9;
  EXPECT_FALSE(a == b);
}

}  // namespace
}  // namespace vokip
