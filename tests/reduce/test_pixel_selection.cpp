// Which pixels take part in a profile: zero, masked and off-sector pixels
// are left out, overflow records give the full intensity (the last record of
// an address wins), and a selection cut into runs at any pixel gives exactly
// the pixels and counts of the whole.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <vector>

#include "reduce/pixel_selection.h"

namespace {

struct Taken {
  std::int64_t index;
  std::uint32_t value;
  bool operator==(const Taken& o) const { return index == o.index && value == o.value; }
};

struct Scene {
  std::vector<std::uint16_t> image;
  std::vector<OverflowRecord> overflow;
  std::vector<std::uint8_t> mask;
  std::vector<double> azimuths;
};

Scene random_scene(std::int64_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> value(0, 5), flag(0, 6);
  std::uniform_real_distribution<double> azimuth(0.0, 360.0);
  Scene s;
  for (std::int64_t i = 0; i < n; ++i) {
    s.image.push_back(static_cast<std::uint16_t>(value(random) == 0 ? 0 : 100 + i % 7));
    s.mask.push_back(flag(random) == 0 ? 1 : 0);
    s.azimuths.push_back(azimuth(random));
  }
  // Records out of address order, one address twice, one a zero pixel made
  // non-zero, one a non-zero pixel made zero, both ends of the image.
  std::uniform_int_distribution<std::int64_t> address(1, n);
  for (int r = 0; r < 40; ++r) {
    s.overflow.push_back(
        {static_cast<std::uint32_t>(address(random)), static_cast<std::uint32_t>(70000 + r)});
  }
  s.overflow.push_back({1, 80001});
  s.overflow.push_back({static_cast<std::uint32_t>(n), 80002});
  s.overflow.push_back({s.overflow[3].address, 80003});  // a later record of the same pixel
  s.overflow.push_back({s.overflow[5].address, 0});
  return s;
}

// The selection written out pixel by pixel.
struct Expected {
  std::vector<Taken> taken;
  PixelTally tally;
};

Expected expected(const Scene& s, bool use_mask, const std::optional<AzimuthSector>& sector) {
  std::map<std::int64_t, std::uint32_t> full;  // the last record of each pixel
  for (const OverflowRecord& r : s.overflow) full[r.address - 1] = r.value;
  Expected e;
  const std::int64_t n = static_cast<std::int64_t>(s.image.size());
  e.tally.total = n;
  for (std::int64_t i = 0; i < n; ++i) {
    const auto it = full.find(i);
    const std::uint32_t v = it != full.end() ? it->second : s.image[i];
    if (v == 0) {
      ++e.tally.zero;
    } else if (use_mask && s.mask[i]) {
      ++e.tally.masked;
    } else if (sector && sector->to_deg - sector->from_deg < 360 &&
               !(std::fmod(s.azimuths[i] - sector->from_deg + 720.0, 360.0) <
                 sector->to_deg - sector->from_deg)) {
      ++e.tally.off_sector;
    } else {
      e.taken.push_back({i, v});
    }
  }
  e.tally.used = static_cast<std::int64_t>(e.taken.size());
  return e;
}

void expect_tally(const PixelTally& got, const PixelTally& want) {
  EXPECT_EQ(got.total, want.total);
  EXPECT_EQ(got.zero, want.zero);
  EXPECT_EQ(got.masked, want.masked);
  EXPECT_EQ(got.off_sector, want.off_sector);
  EXPECT_EQ(got.used, want.used);
}

TEST(PixelSelection, TakesThePixelsTheRulesKeep) {
  const Scene s = random_scene(5000, 1);
  const std::vector<std::optional<AzimuthSector>> sectors = {
      std::nullopt, AzimuthSector{0, 360}, AzimuthSector{30, 200}, AzimuthSector{300, 420},
      AzimuthSector{-60, 10}};
  for (bool use_mask : {false, true}) {
    for (const auto& sector : sectors) {
      SCOPED_TRACE(testing::Message()
                   << "mask " << use_mask << " sector " << (sector ? sector->from_deg : -1) << ".."
                   << (sector ? sector->to_deg : -1));
      const PixelSelection selection(s.image.data(), 5000, s.overflow,
                                     use_mask ? s.mask.data() : nullptr, s.azimuths.data(), sector);
      const Expected e = expected(s, use_mask, sector);
      std::vector<Taken> counted, taken;
      const PixelTally tally = selection.count(0, 5000, [&](std::int64_t i, std::uint32_t v) {
        counted.push_back({i, v});
      });
      selection.for_each_taken(0, 5000, [&](std::int64_t i, std::uint32_t v) {
        taken.push_back({i, v});
      });
      expect_tally(tally, e.tally);
      EXPECT_TRUE(counted == e.taken);
      EXPECT_TRUE(taken == e.taken);
    }
  }
}

TEST(PixelSelection, RunsCutAnywhereAddUpToTheWhole) {
  const std::int64_t n = 3001;
  const Scene s = random_scene(n, 2);
  const PixelSelection selection(s.image.data(), n, s.overflow, s.mask.data(), s.azimuths.data(),
                                 AzimuthSector{100, 300});
  const Expected e = expected(s, true, AzimuthSector{100, 300});
  // Cuts at every record's pixel and its neighbours, and at the ends.
  std::vector<std::int64_t> cuts = {0, 1, n - 1, n};
  for (const OverflowRecord& r : s.overflow) {
    for (std::int64_t d = -1; d <= 1; ++d) {
      const std::int64_t c = static_cast<std::int64_t>(r.address) - 1 + d;
      if (c >= 0 && c <= n) cuts.push_back(c);
    }
  }
  for (std::int64_t cut : cuts) {
    std::vector<Taken> taken;
    auto take = [&](std::int64_t i, std::uint32_t v) { taken.push_back({i, v}); };
    const PixelTally first = selection.count(0, cut, take);
    const PixelTally second = selection.count(cut, n, take);
    PixelTally sum = first;
    sum += second;
    SCOPED_TRACE(testing::Message() << "cut at " << cut);
    expect_tally(sum, e.tally);
    EXPECT_TRUE(taken == e.taken);
    std::vector<Taken> placed;
    selection.for_each_taken(cut, n, [&](std::int64_t i, std::uint32_t v) {
      placed.push_back({i, v});
    });
    EXPECT_TRUE(std::equal(placed.begin(), placed.end(), e.taken.end() - second.used));
  }
}

TEST(PixelSelection, FullIntensitiesTakeTheLastRecordOfEachPixel) {
  const std::vector<std::uint16_t> image = {5, 0, 7, 9};
  const std::vector<OverflowRecord> records = {{4, 70000}, {2, 65536}, {4, 123456}};
  const std::vector<std::uint32_t> full = full_intensities(image.data(), 4, records);
  EXPECT_EQ(full, (std::vector<std::uint32_t>{5, 65536, 7, 123456}));
  const PixelSelection selection(image.data(), 4, records, nullptr, nullptr, std::nullopt);
  std::vector<Taken> taken;
  selection.for_each_taken(0, 4, [&](std::int64_t i, std::uint32_t v) { taken.push_back({i, v}); });
  EXPECT_TRUE(taken == (std::vector<Taken>{{0, 5}, {1, 65536}, {2, 7}, {3, 123456}}));
}

}  // namespace
