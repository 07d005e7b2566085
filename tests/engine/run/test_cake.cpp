// The cake: an azimuthal modulation of the rings comes back in its rows; with
// the right geometry each ring is a straight column, with the centre 3 pixels
// off it bends; its TIFF and the pictures read back (with libtiff and
// libpng, not the writers) with their sizes and values.
#include <gtest/gtest.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/formats/cake_files.h"
#include "engine/formats/files.h"
#include "engine/geometry/lab_frame.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/pictures/pictures.h"
#include "engine/run/reducer.h"
#include "support/mar345_writer.h"
#include "support/test_files.h"

namespace vokip {
namespace {

constexpr int kSize = 400;
constexpr double kRing = 20, kBackground = 300, kHeight = 4000, kWidth = 0.25;

Geometry plate() {
  Geometry g;
  g.distance_mm = 100;
  g.pixel_x_um = g.pixel_y_um = 300;
  g.center_x_px = 203.7;
  g.center_y_px = 196.2;
  g.tilt_deg = 2;
  g.tilt_direction_deg = 30;
  return g;
}

// One ring at kRing degrees whose height follows 1 + 0.5 cos(2 chi).
std::vector<std::uint16_t> modulated_ring() {
  const Geometry g = plate();
  const std::vector<double> angles = PixelAngles(g, kSize, kSize).two_theta_map();
  std::vector<double> chi(kSize);
  std::vector<std::uint16_t> low(kSize * kSize);
  const LabFrame lab(g);
  for (int row = 0; row < kSize; ++row) {
    lab.chi_row(row, kSize, chi.data());
    for (int col = 0; col < kSize; ++col) {
      const double d = (angles[row * kSize + col] - kRing) / kWidth;
      const double modulation = 1 + 0.5 * std::cos(2 * chi[col] * std::acos(-1.0) / 180);
      low[row * kSize + col] = static_cast<std::uint16_t>(
          std::lround(kBackground + kHeight * modulation * std::exp(-d * d)));
    }
  }
  return low;
}

class CakeOfARing : public ::testing::Test {
 protected:
  // The ring written as a MAR345 file.
  std::string ring_file() {
    const std::string path = dir_.file("ring.mar2000");
    write_bytes(path, write_mar345(small_contents(kSize, modulated_ring())));
    return path;
  }
  // A dark or flat whose pixel k holds value(k).
  template <class Value>
  static std::shared_ptr<ValueImage> varying(Value&& value) {
    auto image = std::make_shared<ValueImage>();
    image->width = image->height = kSize;
    image->values.resize(std::size_t{kSize} * kSize);
    for (std::size_t k = 0; k < image->values.size(); ++k) image->values[k] = value(k);
    return image;
  }
  FileReduction reduce(const Geometry& g) {
    const std::string path = ring_file();
    ReductionRequest r;
    r.split = Split::none;
    r.geometry.base = g;
    r.corrections.solid_angle = false;
    r.bins.low = 15;
    r.bins.high = 25;
    r.bins.width = 0.05;
    r.azimuth_bins = 24;
    return FileReducer(r).reduce(path);
  }
  // The ring's position in each azimuth row: the centroid above background
  // within a degree of the ring.
  static std::vector<double> ring_positions(const Profile& p) {
    const std::size_t m = p.centre.size();
    std::vector<double> positions;
    for (int j = 0; j < p.cake.azimuth.count; ++j) {
      double weight = 0, moment = 0;
      for (std::size_t i = 0; i < m; ++i) {
        const double v = p.cake.value[j * m + i];
        if (!std::isfinite(v) || std::fabs(p.centre[i] - kRing) > 1) continue;
        weight += v - kBackground;
        moment += (v - kBackground) * p.centre[i];
      }
      positions.push_back(moment / weight);
    }
    return positions;
  }
  TempDir dir_;
};

TEST_F(CakeOfARing, RowsRecoverTheModulationAlongAStraightRing) {
  const FileReduction r = reduce(plate());
  ASSERT_TRUE(r.ok()) << r.error();
  const Profile& p = r.profile;
  ASSERT_EQ(p.cake.azimuth.count, 24);
  EXPECT_EQ(p.cake.azimuth.width_deg, 15);
  const std::size_t m = p.centre.size();
  const std::size_t peak = static_cast<std::size_t>((kRing - 15) / 0.05);
  for (int j = 0; j < 24; ++j) {
    // The peak bin's height over the background, against the modulation at
    // the row's centre (the ring is narrow against the bin: a fixed share).
    const double chi = p.cake.azimuth.centre(j) * std::acos(-1.0) / 180;
    const double expected = 1 + 0.5 * std::cos(2 * chi);
    double above = 0;
    for (std::size_t i = peak - 1; i <= peak + 1; ++i)
      above += p.cake.value[j * m + i] - kBackground;
    double reference = 0;
    for (std::size_t i = peak - 1; i <= peak + 1; ++i) reference += p.value[i] - kBackground;
    // The profile holds the modulation's mean, 1.
    EXPECT_NEAR(above / reference, expected, 0.03 * expected + 0.02) << "row " << j;
  }
  const std::vector<double> positions = ring_positions(p);
  const auto [low, high] = std::minmax_element(positions.begin(), positions.end());
  EXPECT_LT(*high - *low, 0.01);  // degrees: straight
  std::int64_t cells = 0;
  for (std::int64_t c : p.cake.count) cells += c;
  EXPECT_EQ(cells, p.pixels.used);  // every pixel in exactly one cell
}

TEST_F(CakeOfARing, EachRowIsTheProfileOfItsSector) {
  const std::string path = ring_file();
  ReductionRequest r;
  r.split = Split::none;
  r.geometry.base = plate();
  r.bins.low = 15;
  r.bins.high = 25;
  r.bins.count = 150;
  r.run.statistic = Statistic::median;
  r.sector = AzimuthSector{-45, 135};  // the cake over a sector
  r.azimuth_bins = 4;
  // Every correction the cake reads in its own order: factors (solid angle,
  // polarization, a flat) and a dark, each varying from pixel to pixel.
  r.corrections.polarization = 0.9;
  r.corrections.dark = varying([](std::size_t k) { return static_cast<float>(k % 7); });
  r.corrections.flat =
      varying([](std::size_t k) { return 0.8f + 0.05f * static_cast<float>(k % 9); });
  const FileReduction cake = FileReducer(r).reduce(path);
  ASSERT_TRUE(cake.ok()) << cake.error();
  const std::size_t m = 150;
  for (int j = 0; j < 4; ++j) {
    ReductionRequest one = r;
    one.azimuth_bins.reset();
    one.sector = AzimuthSector{-45 + 45.0 * j, -45 + 45.0 * (j + 1)};
    const FileReduction sector = FileReducer(one).reduce(path);
    ASSERT_TRUE(sector.ok()) << sector.error();
    for (std::size_t i = 0; i < m; ++i) {
      ASSERT_EQ(cake.profile.cake.count[j * m + i], sector.profile.count[i]) << j << ", " << i;
      if (sector.profile.count[i] > 0) {
        ASSERT_EQ(cake.profile.cake.value[j * m + i], sector.profile.value[i]) << j << ", " << i;
      }
    }
  }
}

// A split profile takes each pixel's shares from its binning; a cake takes
// them from the pixel's footprint. A cake of one azimuth bin round the
// circle, with the profile's bins, is the same profile: bins cut by the
// range at both ends, pixels spread over many fine bins, corrected, for the
// mean and the weighted median.
TEST_F(CakeOfARing, SplitProfileIsTheCakeOfOneAzimuthBin) {
  const std::string path = ring_file();
  ReductionRequest r;
  r.split = Split::bbox;
  r.geometry.base = plate();
  r.corrections.polarization = 0.9;
  r.corrections.dark = varying([](std::size_t k) { return static_cast<float>(k % 5); });
  for (const double width : {0.05, 0.01}) {  // a pixel spans about 0.17 degree
    for (const Statistic statistic : {Statistic::mean, Statistic::median}) {
      r.bins.low = 15;
      r.bins.high = 25;
      r.bins.width = width;
      r.run.statistic = statistic;
      r.azimuth_bins.reset();
      const FileReduction profile = FileReducer(r).reduce(path);
      r.azimuth_bins = 1;
      const FileReduction cake = FileReducer(r).reduce(path);
      ASSERT_TRUE(profile.ok() && cake.ok()) << profile.error() << cake.error();
      const Profile& p = profile.profile;
      ASSERT_EQ(p.centre.size(), cake.profile.cake.centre.size());
      EXPECT_EQ(p.pixels.used, cake.profile.pixels.used);
      std::size_t filled = 0;
      for (std::size_t i = 0; i < p.centre.size(); ++i) {
        const double count = cake.profile.cake.count[i];
        ASSERT_NEAR(p.count[i], count, 1e-6 * (count + 1)) << width << " " << i;
        if (count == 0) continue;
        ++filled;
        ASSERT_NEAR(p.value[i], cake.profile.cake.value[i], 1e-6 * std::fabs(p.value[i]))
            << width << " " << i;
      }
      EXPECT_EQ(filled, p.centre.size());
    }
  }
}

TEST_F(CakeOfARing, ACentreThreePixelsOffBendsTheRing) {
  Geometry off = plate();
  off.center_x_px += 3;
  const FileReduction r = reduce(off);
  ASSERT_TRUE(r.ok()) << r.error();
  const std::vector<double> positions = ring_positions(r.profile);
  const auto [low, high] = std::minmax_element(positions.begin(), positions.end());
  // 3 pixels of 0.3 mm at 100 mm: about half a degree each way.
  EXPECT_GT(*high - *low, 0.6);
}

TEST_F(CakeOfARing, TiffAndPicturesReadBack) {
  const FileReduction r = reduce(plate());
  ASSERT_TRUE(r.ok()) << r.error();
  const Profile& p = r.profile;
  const std::size_t m = p.centre.size();

  const std::string tif = dir_.file("cake.tif");
  write_file_atomically(tif, encode_cake_tiff(p, "ring.mar2000"));
  TIFF* t = TIFFOpen(tif.c_str(), "r");
  ASSERT_NE(t, nullptr);
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, format = 0;
  char* description = nullptr;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_SAMPLEFORMAT, &format);
  TIFFGetField(t, TIFFTAG_IMAGEDESCRIPTION, &description);
  EXPECT_EQ(width, m);
  EXPECT_EQ(height, 24u);
  EXPECT_EQ(bits, 32);
  EXPECT_EQ(format, SAMPLEFORMAT_IEEEFP);
  ASSERT_NE(description, nullptr);
  EXPECT_EQ(std::string(description), format_cake_axes(p, "ring.mar2000"));
  std::vector<float> line(width);
  for (std::uint32_t j = 0; j < height; ++j) {
    ASSERT_GE(TIFFReadScanline(t, line.data(), j, 0), 0);
    for (std::uint32_t i = 0; i < width; ++i) {
      const double v = p.cake.value[j * m + i];
      if (std::isnan(v)) {
        EXPECT_TRUE(std::isnan(line[i]));
      } else {
        EXPECT_EQ(line[i], static_cast<float>(v));
      }
    }
  }
  TIFFClose(t);
  const std::string axes = format_cake_axes(p, "ring.mar2000");
  EXPECT_NE(axes.find("columns, 2th_deg: 15.025 15.075"), std::string::npos) << axes.substr(0, 200);
  EXPECT_NE(axes.find("rows, azimuth chi in degrees: 7.5 22.5 37.5"), std::string::npos);

  // The pictures: their sizes, white margins, colour inside.
  struct Png {
    std::vector<std::uint8_t> bytes;
    unsigned width, height;
  };
  std::vector<std::uint8_t> image_bytes;
  {
    Image image;
    const std::vector<std::uint8_t> file = read_file(dir_.file("ring.mar2000"));
    image.decode(file.data(), parse_mar345(file.data(), file.size()));
    const Mar345Header header = parse_mar345(file.data(), file.size());
    ReductionRequest q;
    q.split = Split::none;
    q.geometry.base = plate();
    PlanParameters parameters = plan_parameters(q, header.size, header.size, header.geometry);
    image_bytes = image_png(image, Plan(parameters), p, "ring");
  }
  for (const Png& png :
       {Png{cake_png(p, "cake"), 1000, 560}, Png{profile_png(p, "profile"), 900, 540},
        Png{image_bytes, kSize + 80, kSize + 80}}) {
    png_image read;
    std::memset(&read, 0, sizeof read);
    read.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&read, png.bytes.data(), png.bytes.size()));
    read.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(read));
    ASSERT_TRUE(png_image_finish_read(&read, nullptr, pixels.data(), 0, nullptr));
    EXPECT_EQ(read.width, png.width);
    EXPECT_EQ(read.height, png.height);
    EXPECT_EQ(pixels[0], 255);  // the white margin
    std::size_t coloured = 0;
    for (std::size_t k = 0; k + 2 < pixels.size(); k += 3) {
      coloured += !(pixels[k] == pixels[k + 1] && pixels[k + 1] == pixels[k + 2]);
    }
    EXPECT_GT(coloured, 100u);
  }
}

}  // namespace
}  // namespace vokip
