// The whole reduction of files with the engine: angles for known
// geometries, full intensities from overflow records, ring positions
// recovered from generated files, and which pixels take part.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "engine/base/text.h"
#include "engine/formats/files.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/run/reducer.h"
#include "support/mar345_writer.h"
#include "support/test_files.h"

namespace vokip {
namespace {

// A request that bins each pixel by its centre.
ReductionRequest by_centres() {
  ReductionRequest r;
  r.split = Split::none;
  return r;
}

const double kPi = std::acos(-1.0);

// Polar angles of a width x height image for a geometry.
std::vector<double> angle_map(const Geometry& g, int width, int height) {
  return PixelAngles(g, width, height).two_theta_map();
}

// One file's reduction, as the tests look at it.
struct Reduction {
  Mar345Header header;
  Geometry geometry;
  Profile profile;
  PixelTally pixels;
  std::string error;
  bool ok() const { return error.empty(); }
};

Reduction reduce_file(const std::string& path, const ReductionRequest& request) {
  const FileReduction r = FileReducer(request).reduce(path);
  return {r.header, r.geometry, r.profile, r.profile.pixels, r.error()};
}

std::shared_ptr<const Mask> shared(const Mask& mask) {
  return std::make_shared<const Mask>(mask);
}

Geometry plate(double distance_mm, double pixel_um, double cx, double cy) {
  Geometry g;
  g.distance_mm = distance_mm;
  g.pixel_x_um = g.pixel_y_um = pixel_um;
  g.center_x_px = cx;
  g.center_y_px = cy;
  return g;
}

TEST(ReductionAngles, KnownGeometriesGiveKnownAngles) {
  // 1 mm pixels; pixel (c, r) has its centre at (c + 0.5, r + 0.5), so with the
  // beam centre at (150.5, 150.5) pixel 250 lies 100 mm from it.
  Geometry g = plate(100, 1000, 150.5, 150.5);
  std::vector<double> a = angle_map(g, 300, 300);
  auto at = [&](int col, int row) { return a[static_cast<std::size_t>(row) * 300 + col]; };
  EXPECT_NEAR(at(150, 150), 0.0, 1e-12);
  EXPECT_NEAR(at(250, 150), 45.0, 1e-9);
  EXPECT_NEAR(at(150, 50), 45.0, 1e-9);

  g.tilt_deg = 30;
  a = angle_map(g, 300, 300);
  EXPECT_NEAR(at(250, 150), 30.0, 1e-9);  // the +x side moved away from the sample
  EXPECT_NEAR(at(50, 150), 60.0, 1e-9);
  EXPECT_NEAR(at(150, 250), 45.0, 1e-9);  // along the tilt axis: unchanged

  g.tilt_direction_deg = 90;
  a = angle_map(g, 300, 300);
  EXPECT_NEAR(at(150, 250), 30.0, 1e-9);
  EXPECT_NEAR(at(250, 150), 45.0, 1e-9);
}

TEST(ReductionAngles, TiltedMapAgreesWithThePlatePlacedInSpace) {
  RingPattern pattern = small_rings(120);
  pattern.tilt_deg = 7;
  pattern.tilt_direction_deg = 125;
  Geometry g =
      plate(pattern.distance_mm, pattern.pixel_um, pattern.center_x_px, pattern.center_y_px);
  g.tilt_deg = pattern.tilt_deg;
  g.tilt_direction_deg = pattern.tilt_direction_deg;
  const std::vector<double> a = angle_map(g, 120, 120);
  double worst = 0;
  for (int row = 0; row < 120; ++row) {
    for (int col = 0; col < 120; ++col) {
      worst = std::max(worst, std::fabs(a[row * 120 + col] - pixel_two_theta(pattern, col, row)));
    }
  }
  EXPECT_LT(worst, 1e-9);
}

TEST(ReductionAngles, OneRowImageGetsAnAnglePerPixel) {
  const std::vector<double> a = angle_map(plate(1, 1000, 0, 0.5), 3, 1);
  ASSERT_EQ(a.size(), 3u);
  EXPECT_NEAR(a[0], std::atan(0.5) * 180 / kPi, 1e-9);
  EXPECT_NEAR(a[2], std::atan(2.5) * 180 / kPi, 1e-9);
}

TEST(ReductionDecode, FileGivesBackTheFullIntensitiesInBothByteOrders) {
  const RingPattern pattern = small_rings(150);
  const std::vector<std::uint32_t> image = make_ring_image(pattern);
  ASSERT_EQ(std::count_if(image.begin(), image.end(), [](std::uint32_t v) { return v > 65535; }),
            pattern.overflow_pixels);
  for (ByteOrder order : {ByteOrder::little, ByteOrder::big}) {
    const std::vector<std::uint8_t> bytes = write_mar345(ring_pattern_file(pattern, image, order));
    const Mar345Header header = parse_mar345(bytes.data(), bytes.size());
    Image decoded;
    decoded.decode(bytes.data(), header);
    std::vector<std::uint32_t> full(image.size());
    decoded.full(full.data());
    EXPECT_EQ(full, image);
    std::int64_t zeros = 0;
    for (std::int64_t p = 0; p < decoded.pixels(); ++p) {
      EXPECT_EQ(decoded.value(p), image[p]);
      zeros += image[p] == 0;
    }
    EXPECT_EQ(decoded.zero_count(), zeros);

    // The same image handed over as full intensities reads the same.
    Image assigned;
    assigned.assign(image.data(), pattern.size, pattern.size);
    assigned.full(full.data());
    EXPECT_EQ(full, image);
    EXPECT_EQ(assigned.zero_count(), zeros);
    for (std::int64_t p = 0; p < assigned.pixels(); p += 7) EXPECT_EQ(assigned.value(p), image[p]);
  }
}

// A stream cut short, one of full length whose data stop decoding, and a
// header that claims far more pixels than its stream holds: each refused
// for what it is, and before any plan is made.
TEST(ReductionDecode, BadStreamsAreToldApartAndCostNoPlan) {
  // A smooth image packs in few bits per pixel: garbage in place of its
  // second half runs the stream dry.
  std::vector<std::uint16_t> low(64 * 64);
  std::mt19937 random(1);
  for (auto& v : low) v = static_cast<std::uint16_t>(1000 + random() % 4);
  const Mar345Contents good = small_contents(64, low);
  TempDir dir;
  auto reduce = [&](const Mar345Contents& c) {
    write_bytes(dir.file("bad.mar1200"), write_mar345(c));
    return FileReducer(ReductionRequest{}).reduce(dir.file("bad.mar1200"));
  };
  // How many pixels a message says the stream holds, after "hold only ".
  auto held = [](const std::string& message) {
    const std::size_t at = message.find("hold only ");
    return at == std::string::npos ? -1L : std::stol(message.substr(at + 10));
  };
  const std::size_t half = good.stream.size() / 2;

  Mar345Contents cut = good;
  cut.stream.resize(half);
  const FileReduction short_one = reduce(cut);
  EXPECT_EQ(short_one.error().rfind(
                "packed stream cut short: its " + std::to_string(half) + " bytes hold only ", 0),
            0u)
      << short_one.error();
  const long in_half = held(short_one.error());
  EXPECT_GT(in_half, 4096 * 0.4);
  EXPECT_LT(in_half, 4096 * 0.6);
  EXPECT_EQ(short_one.times.plan_ms, 0);

  // The same first half, then bytes that are no stream: found where the
  // garbage begins, not reported as a file cut short.
  Mar345Contents damaged = good;
  for (std::size_t k = half; k < damaged.stream.size(); ++k) {
    damaged.stream[k] = static_cast<std::uint8_t>(random());
  }
  const FileReduction bad = reduce(damaged);
  const std::string message = bad.error();
  ASSERT_EQ(message.rfind("packed data damaged: from pixel ", 0), 0u) << message;
  const long pixel = std::stol(message.substr(32));
  EXPECT_GE(pixel, in_half - 128) << message;  // at most a block before the garbage
  EXPECT_NE(message.find(printf_string("(row %ld, column %ld) on they do not decode",
                                       (pixel - 1) / 64 + 1, (pixel - 1) % 64 + 1)),
            std::string::npos)
      << message;
  EXPECT_LT(held(message), 4096);
  EXPECT_EQ(bad.times.plan_ms, 0);

  // 16384 x 16384 pixels claimed of 1.6 MB of one-pixel blocks (6 bits
  // each): proved short before the image's 512 MB are taken.
  Mar345Contents claimed = good;
  claimed.size = 16384;
  claimed.stream.assign(1600000, 0);
  const FileReduction huge = reduce(claimed);
  EXPECT_EQ(huge.error(),
            "packed stream cut short: its 1600000 bytes hold only 2133333 of the 268435456 pixels");
  EXPECT_EQ(huge.times.plan_ms, 0);
}

// A header without the pixel size: its scan mode's, as the header of the
// profile says.
TEST(ReductionDecode, ScanModeGivesThePixelSizeTheHeaderLeavesOut) {
  Mar345Contents c = small_contents(1200, std::vector<std::uint16_t>(1200 * 1200, 7));
  c.pixel_um.reset();
  TempDir dir;
  write_bytes(dir.file("rings.mar1200"), write_mar345(c));
  const FileReduction r = FileReducer(ReductionRequest{}).reduce(dir.file("rings.mar1200"));
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r.geometry.pixel_x_um, 150);
  EXPECT_EQ(r.geometry_sources,
            "the header (distance, beam centre, wavelength); the scan mode of the image's size, "
            "the header giving none (pixel size); none given (tilt)");
}

// The 2-theta of the largest bin value within 0.4 degrees of each ring.
std::vector<double> peak_positions(const Profile& p, const std::vector<double>& rings) {
  std::vector<double> found;
  for (double ring : rings) {
    double best = -1, where = 0;
    for (std::size_t i = 0; i < p.centre.size(); ++i) {
      if (std::fabs(p.centre[i] - ring) < 0.4 && p.count[i] > 0 && p.value[i] > best) {
        best = p.value[i];
        where = p.centre[i];
      }
    }
    found.push_back(where);
  }
  return found;
}

// Rings whose whole circle lies on the plate.
std::vector<double> full_rings(const RingPattern& pattern) {
  const double inner_radius_mm = (pattern.size / 2.0 - 6) * pattern.pixel_um / 1000;
  const double limit = std::atan(inner_radius_mm / pattern.distance_mm) * 180 / kPi - 2;
  std::vector<double> out;
  for (const Ring& r : silicon_rings(pattern.wavelength_angstrom)) {
    if (r.two_theta_deg < limit) out.push_back(r.two_theta_deg);
  }
  return out;
}

class RoundTrip : public ::testing::Test {
 protected:
  Reduction reduce(const RingPattern& pattern, const ReductionRequest& request,
                   ByteOrder order = ByteOrder::little) {
    const std::string path = dir_.file("rings.mar1200");
    write_bytes(path, write_mar345(ring_pattern_file(pattern, make_ring_image(pattern), order)));
    return reduce_file(path, request);
  }
  TempDir dir_;
};

TEST_F(RoundTrip, RingsComeBackWithinABin) {
  RingPattern pattern = small_rings(400);
  pattern.pixel_um = 450;
  pattern.overflow_pixels = 0;
  const std::vector<double> rings = full_rings(pattern);
  ASSERT_GE(rings.size(), 4u);
  for (ByteOrder order : {ByteOrder::little, ByteOrder::big}) {
    ReductionRequest request;
    request.split = Split::none;
    request.bins.width = 0.05;
    const Reduction r = reduce(pattern, request, order);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_DOUBLE_EQ(r.geometry.center_x_px, pattern.center_x_px);
    const std::vector<double> found = peak_positions(r.profile, rings);
    for (std::size_t k = 0; k < rings.size(); ++k) {
      EXPECT_NEAR(found[k], rings[k], r.profile.bin_width) << "ring " << k;
    }
  }
}

TEST_F(RoundTrip, TiltedPlateNeedsItsTiltToFindTheRings) {
  RingPattern pattern = small_rings(400);
  pattern.pixel_um = 450;
  pattern.tilt_deg = 6;
  pattern.tilt_direction_deg = 35;
  pattern.overflow_pixels = 0;
  const std::vector<double> rings = full_rings(pattern);
  ReductionRequest request;
  request.split = Split::none;
  request.bins.width = 0.05;
  request.geometry.tilt_deg = 6;
  request.geometry.tilt_direction_deg = 35;
  const Reduction tilted = reduce(pattern, request);
  ASSERT_TRUE(tilted.ok()) << tilted.error;
  std::vector<double> found = peak_positions(tilted.profile, rings);
  for (std::size_t k = 0; k < rings.size(); ++k) EXPECT_NEAR(found[k], rings[k], 0.05);

  // Reduced as a flat plate the rings smear: their peaks drop well below.
  request.geometry.tilt_deg.reset();
  request.geometry.tilt_direction_deg.reset();
  const Reduction flat = reduce(pattern, request);
  ASSERT_TRUE(flat.ok()) << flat.error;
  double tilted_top = 0, flat_top = 0;
  for (double v : tilted.profile.value) tilted_top = std::max(tilted_top, std::isnan(v) ? 0 : v);
  for (double v : flat.profile.value) flat_top = std::max(flat_top, std::isnan(v) ? 0 : v);
  EXPECT_LT(flat_top, 0.7 * tilted_top);
}

TEST_F(RoundTrip, RingsInQComeBackWithinABin) {
  RingPattern pattern = small_rings(400);
  pattern.pixel_um = 450;
  pattern.overflow_pixels = 0;
  ReductionRequest request;
  request.split = Split::none;
  request.unit = Unit::q_inv_angstrom;
  request.bins.width = 0.004;
  const Reduction r = reduce(pattern, request);
  ASSERT_TRUE(r.ok()) << r.error;
  for (double ring : full_rings(pattern)) {
    const double q = 4 * kPi * std::sin(ring * kPi / 360) / pattern.wavelength_angstrom;
    double best = -1, where = 0;
    for (std::size_t i = 0; i < r.profile.centre.size(); ++i) {
      if (std::fabs(r.profile.centre[i] - q) < 0.03 && r.profile.value[i] > best) {
        best = r.profile.value[i];
        where = r.profile.centre[i];
      }
    }
    EXPECT_NEAR(where, q, 0.004) << "ring at " << ring;
  }
}

TEST_F(RoundTrip, MissingGeometryAsksForTheOption) {
  RingPattern pattern = small_rings(64);
  Mar345Contents c = ring_pattern_file(pattern, make_ring_image(pattern));
  c.center_x_px.reset();
  const std::string path = dir_.file("nocentre.mar1200");
  write_bytes(path, write_mar345(c));
  FileReduction missing = FileReducer(by_centres()).reduce(path);
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), "the beam centre is not known");
  EXPECT_EQ(missing.failure->setting(), Setting::center);

  ReductionRequest request;

  request.split = Split::none;
  request.geometry.center_x_px = 30;
  request.geometry.center_y_px = 31;
  Reduction r = reduce_file(path, request);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.geometry.center_x_px, 30);

  request.unit = Unit::q_inv_angstrom;
  c.wavelength_angstrom.reset();
  write_bytes(path, write_mar345(c));
  missing = FileReducer(request).reduce(path);
  EXPECT_EQ(missing.error(), "the wavelength is not known (the unit q_A^-1 needs it)");
  EXPECT_EQ(missing.failure->setting(), Setting::wavelength);
}

// A 64 x 64 image of 1000 everywhere, with chosen pixels changed.
class FlatImage : public ::testing::Test {
 protected:
  static constexpr int kSize = 64;
  FlatImage() : low_(kSize * kSize, 1000) {}
  Reduction reduce(const ReductionRequest& request,
                   const std::vector<OverflowRecord>& overflow = {}) {
    std::vector<std::uint16_t> low = low_;
    for (const OverflowRecord& r : overflow)
      low[r.address - 1] = static_cast<std::uint16_t>(r.value);
    const std::string path = dir_.file("flat.mar1200");
    write_bytes(path, write_mar345(small_contents(kSize, low, overflow)));
    // Raw values: these tests count and sum them.
    ReductionRequest raw = request;
    raw.corrections.solid_angle = false;
    return reduce_file(path, raw);
  }
  static double weighted_sum(const Profile& p) {
    double sum = 0;
    for (std::size_t i = 0; i < p.count.size(); ++i) {
      if (p.count[i] > 0) sum += p.count[i] * p.value[i];
    }
    return sum;
  }
  std::vector<std::uint16_t> low_;
  TempDir dir_;
};

TEST_F(FlatImage, OverflowPixelsEnterWithTheirTrueValues) {
  const std::vector<OverflowRecord> overflow = {{100, 500000}, {2000, 70000}, {4096, 3000000}};
  ReductionRequest request;
  request.split = Split::none;
  request.bins.count = 30;
  const Reduction r = reduce(request, overflow);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.pixels.used, kSize * kSize);
  const double expected = 1000.0 * (kSize * kSize - 3) + 500000 + 70000 + 3000000;
  EXPECT_NEAR(weighted_sum(r.profile), expected, expected * 1e-12);
  // Bins without an overflow pixel hold exactly the flat value.
  int raised = 0;
  for (std::size_t i = 0; i < r.profile.count.size(); ++i) {
    if (r.profile.count[i] == 0) continue;
    if (r.profile.value[i] == 1000) {
      EXPECT_EQ(r.profile.variance[i], 0);
    } else {
      ++raised;
      EXPECT_GT(r.profile.value[i], 1000 + 69000.0 / r.profile.count[i] - 1e-6);
    }
  }
  EXPECT_GE(raised, 2);

  // The median keeps lone bright pixels out.
  request.run.statistic = Statistic::median;
  const Reduction m = reduce(request, overflow);
  ASSERT_TRUE(m.ok()) << m.error;
  for (std::size_t i = 0; i < m.profile.count.size(); ++i) {
    if (m.profile.count[i] >= 3) {
      EXPECT_EQ(m.profile.value[i], 1000) << "bin " << i;
    }
  }
}

TEST_F(FlatImage, ZeroAndMaskedPixelsAreLeftOut) {
  for (int row = 0; row < 10; ++row) {
    for (int col = 0; col < 10; ++col) low_[row * kSize + col] = 0;
  }
  Mask mask;
  mask.width = mask.height = kSize;
  mask.excluded.assign(kSize * kSize, 0);
  for (int row = 40; row < 45; ++row) {
    for (int col = 20; col < 40; ++col) mask.excluded[row * kSize + col] = 1;
  }
  // A masked pixel of another value would show in the means if it were used.
  low_[42 * kSize + 30] = 9;
  ReductionRequest request;
  request.split = Split::none;
  request.mask = shared(mask);
  const Reduction r = reduce(request);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.pixels.total, kSize * kSize);
  EXPECT_EQ(r.pixels.zero, 100);
  EXPECT_EQ(r.pixels.masked, 100);
  EXPECT_EQ(r.pixels.used, kSize * kSize - 200);
  EXPECT_EQ(std::accumulate(r.profile.count.begin(), r.profile.count.end(), std::int64_t{0}),
            r.pixels.used);
  for (std::size_t i = 0; i < r.profile.count.size(); ++i) {
    if (r.profile.count[i] > 0) {
      EXPECT_EQ(r.profile.value[i], 1000) << "bin " << i;
    }
  }

  mask.width = 32;
  request.mask = shared(mask);
  const Reduction wrong = reduce(request);
  EXPECT_NE(wrong.error.find("the mask is 32 x 64 pixels, the image 64 x 64"), std::string::npos)
      << wrong.error;
}

TEST_F(FlatImage, SectorKeepsOnlyItsAzimuths) {
  // Beam centre at (32, 32): the quadrant x > 0, y > 0 (azimuth 0 to 90) is 100.
  for (int row = 32; row < kSize; ++row) {
    for (int col = 32; col < kSize; ++col) low_[row * kSize + col] = 100;
  }
  ReductionRequest request;
  request.split = Split::none;
  request.sector = AzimuthSector{0, 90};
  Reduction r = reduce(request);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.pixels.used, 32 * 32);
  EXPECT_EQ(r.pixels.off_sector, kSize * kSize - 32 * 32);
  for (std::size_t i = 0; i < r.profile.count.size(); ++i) {
    if (r.profile.count[i] > 0) {
      EXPECT_EQ(r.profile.value[i], 100);
    }
  }
  // A sector across 0 degrees, from 270 to 360 and 0 to 90: the right half.
  request.sector = AzimuthSector{-90, 90};
  r = reduce(request);
  ASSERT_TRUE(r.ok()) << r.error;
  EXPECT_EQ(r.pixels.used, 32 * kSize);
  EXPECT_NEAR(weighted_sum(r.profile), 32 * 32 * 100.0 + 32 * 32 * 1000.0, 1e-6);
}

TEST_F(FlatImage, RangeKeepsExactlyThePixelsOfItsBins) {
  std::mt19937 random(9);
  for (auto& v : low_) v = static_cast<std::uint16_t>(random() % 5000 + 1);
  ReductionRequest whole;
  whole.split = Split::none;
  whole.bins.low = 0;
  whole.bins.high = 3;
  whole.bins.width = 0.25;
  const Reduction all = reduce(whole);
  ASSERT_TRUE(all.ok()) << all.error;
  ReductionRequest part = whole;
  part.bins.low = 1;
  part.bins.high = 2;
  const Reduction some = reduce(part);
  ASSERT_TRUE(some.ok()) << some.error;
  ASSERT_EQ(some.profile.count.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(some.profile.count[i], all.profile.count[i + 4]) << "bin " << i;
    EXPECT_DOUBLE_EQ(some.profile.value[i], all.profile.value[i + 4]) << "bin " << i;
  }
  EXPECT_EQ(some.pixels.used + some.pixels.off_range, kSize * kSize);
  EXPECT_GT(some.pixels.off_range, 0);
}

TEST_F(FlatImage, EveryUsedPixelLandsInOneBin) {
  std::mt19937 random(4);
  for (auto& v : low_) v = static_cast<std::uint16_t>(random() % 5000);
  const std::int64_t zeros = std::count(low_.begin(), low_.end(), 0);
  double sum = 0;
  for (std::uint16_t v : low_) sum += v;
  for (Statistic statistic : {Statistic::mean, Statistic::median}) {
    ReductionRequest request;
    request.split = Split::none;
    request.run.statistic = statistic;
    const Reduction r = reduce(request);
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.pixels.zero, zeros);
    EXPECT_EQ(r.pixels.used, kSize * kSize - zeros);
    EXPECT_EQ(std::accumulate(r.profile.count.begin(), r.profile.count.end(), std::int64_t{0}),
              r.pixels.used);
    if (statistic == Statistic::mean) {
      EXPECT_NEAR(weighted_sum(r.profile), sum, sum * 1e-12);
    }
  }
}

// An image large enough for the selection and sort to be split between
// threads, with zero, masked, overflow and off-sector pixels on both sides
// of the split: every pixel that takes part lands in its own bin with its
// own value.
TEST(LargeImage, EveryPixelLandsInItsBinWhereverTheWorkIsSplit) {
  constexpr int kSize = 1100;
  constexpr std::int64_t kPixels = std::int64_t{kSize} * kSize;
  std::vector<std::uint16_t> low(kPixels);
  for (std::int64_t i = 0; i < kPixels; ++i) {
    low[i] = static_cast<std::uint16_t>(1 + (i * 7919) % 5000);
  }
  for (int row = 0; row < 100; ++row) {
    for (int col = 0; col < 100; ++col) low[row * kSize + col] = 0;
  }
  for (std::int64_t i = 3; i < kPixels; i += 101) low[i] = 0;
  // Overflow records around the middle pixel, where the work is cut in two.
  std::vector<OverflowRecord> overflow;
  for (std::int64_t d = -3; d <= 3; ++d) {
    const std::int64_t i = kPixels / 2 + d;
    overflow.push_back({static_cast<std::uint32_t>(i + 1), static_cast<std::uint32_t>(70000 + d)});
    low[i] = static_cast<std::uint16_t>(70000 + d);
  }
  Mask mask;
  mask.width = mask.height = kSize;
  mask.excluded.assign(kPixels, 0);
  for (int row = 540; row < 560; ++row) {
    for (int col = 700; col < 900; ++col) mask.excluded[row * kSize + col] = 1;
  }
  TempDir dir;
  const std::string path = dir.file("large.mar1200");
  const Mar345Contents contents = small_contents(kSize, low, overflow);
  write_bytes(path, write_mar345(contents));
  ReductionRequest request;
  request.split = Split::none;
  request.mask = shared(mask);
  request.sector = AzimuthSector{-90, 90};  // the right half: x > 0
  request.bins.count = 400;
  request.corrections.solid_angle = false;
  const Reduction r = reduce_file(path, request);
  ASSERT_TRUE(r.ok()) << r.error;

  // The same pixels and bins worked out here, pixel by pixel.
  const std::vector<double> angles = angle_map(r.geometry, kSize, kSize);
  ASSERT_EQ(static_cast<std::int64_t>(angles.size()), kPixels);
  const Profile& p = r.profile;
  const double first_edge = p.centre.front() - p.bin_width / 2;
  const std::size_t bins = p.centre.size();
  std::vector<std::int64_t> count(bins, 0);
  std::vector<double> sum(bins, 0);
  std::vector<bool> near_edge(bins, false);
  PixelTally expected;
  for (std::int64_t i = 0; i < kPixels; ++i) {
    double v = low[i];
    for (const OverflowRecord& o : overflow) {
      if (o.address == i + 1) v = o.value;
    }
    const double x = static_cast<double>(i % kSize) + 0.5 - r.geometry.center_x_px;
    if (v == 0) {
      ++expected.zero;
    } else if (mask.excluded[i]) {
      ++expected.masked;
    } else if (x < 0) {
      ++expected.off_sector;
    } else {
      ++expected.used;
      const double position = (angles[i] - first_edge) / p.bin_width;
      const std::size_t b = std::min(bins - 1, static_cast<std::size_t>(position));
      const double from_edge = position - std::round(position);
      if (std::abs(from_edge) < 1e-6)
        near_edge[b] = near_edge[std::max<std::size_t>(b, 1) - 1] = true;
      ++count[b];
      sum[b] += v;
    }
  }
  EXPECT_EQ(r.pixels.total, kPixels);
  EXPECT_EQ(r.pixels.zero, expected.zero);
  EXPECT_EQ(r.pixels.masked, expected.masked);
  EXPECT_EQ(r.pixels.off_sector, expected.off_sector);
  EXPECT_EQ(r.pixels.used, expected.used);
  EXPECT_GT(expected.zero, 10000);
  EXPECT_GT(expected.masked, 1000);
  std::size_t compared = 0;
  for (std::size_t b = 0; b < bins; ++b) {
    if (near_edge[b]) continue;
    ++compared;
    ASSERT_EQ(p.count[b], count[b]) << "bin " << b;
    if (count[b] > 0) {
      EXPECT_NEAR(p.value[b], sum[b] / count[b], 1e-9 * sum[b] / count[b]) << "bin " << b;
    }
  }
  EXPECT_GT(compared, bins * 9 / 10);
}

TEST(ShippedSample, IsSmallAndReducesToItsRings) {
  const std::string path = std::string(VOKIP_SOURCE_DIR) + "/samples/rings.mar1200";
  const std::vector<std::uint8_t> bytes = read_file(path);
  EXPECT_LT(bytes.size(), 1500000u);
  const Mar345Header header = parse_mar345(bytes.data(), bytes.size());
  EXPECT_EQ(header.size, 1200);
  ASSERT_FALSE(header.overflow.empty());
  for (const OverflowRecord& r : header.overflow) EXPECT_GT(r.value, 65535u);

  ReductionRequest request;

  request.split = Split::none;
  request.bins.width = 0.05;
  request.run.statistic = Statistic::median;
  const Reduction r = reduce_file(path, request);
  ASSERT_TRUE(r.ok()) << r.error;
  const RingPattern pattern;  // the generator's defaults made the sample
  const std::vector<double> rings = full_rings(pattern);
  ASSERT_GE(rings.size(), 3u);
  const std::vector<double> found = peak_positions(r.profile, rings);
  for (std::size_t k = 0; k < rings.size(); ++k) EXPECT_NEAR(found[k], rings[k], 0.05);
}

}  // namespace
}  // namespace vokip
