// The waterfall: a run's profiles as one picture, image index down; a run
// longer (or bins more) than the picture has pixels in blocks that keep
// their largest value; images that failed grey.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/base/error.h"
#include "engine/pictures/pictures.h"
#include "engine/pictures/png.h"

namespace vokip {
namespace {

Picture read_back(const std::vector<std::uint8_t>& bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()));
  image.format = PNG_FORMAT_RGB;
  Picture p(static_cast<int>(image.width), static_cast<int>(image.height), Picture::Colour::rgb);
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, p.samples.data(), 0, nullptr));
  return p;
}

// The picture's box: 890 x 680 pixels from (80, 50).
Rgb cell(const Picture& p, double column, double columns, double row, double rows) {
  return p.at(static_cast<int>(80 + (column + 0.5) * 890 / columns),
              static_cast<int>(50 + (row + 0.5) * 680 / rows));
}

bool grey(Rgb c) {
  return c.r == 191 && c.g == 191 && c.b == 191;
}
bool yellow(Rgb c) {
  return c.r > 200 && c.g > 200 && c.b < 80;
}
bool dark(Rgb c) {
  return c.r < 90 && c.g < 40;
}

std::vector<double> bins(int m) {
  std::vector<double> centres(static_cast<std::size_t>(m));
  for (int i = 0; i < m; ++i) centres[static_cast<std::size_t>(i)] = 2 + 0.01 * (i + 0.5);
  return centres;
}

TEST(Waterfall, ImagesGoDownLargerValuesYellowerFailedImagesAndEmptyBinsGrey) {
  Waterfall w(10, Unit::two_theta_deg, bins(20), 0.01);
  for (std::size_t k = 0; k < 10; ++k) {
    if (k == 4) continue;  // failed
    std::vector<double> values(20, std::pow(10.0, k / 3.0));
    values[0] = std::nan("");  // an empty bin
    w.add(k, values);
  }
  const Picture p = read_back(w.png("run: 10 images"));
  ASSERT_EQ(p.width, 1000);
  ASSERT_EQ(p.height, 800);
  for (int i = 1; i < 20; ++i) {
    EXPECT_TRUE(grey(cell(p, i, 20, 4, 10))) << i;
    EXPECT_TRUE(dark(cell(p, i, 20, 0, 10))) << i;
    EXPECT_TRUE(yellow(cell(p, i, 20, 9, 10))) << i;
  }
  for (int k = 0; k < 10; ++k) EXPECT_TRUE(grey(cell(p, 0, 20, k, 10))) << k;
  EXPECT_THROW(w.add(10, std::vector<double>(20, 1.0)), Error);
  EXPECT_THROW(w.add(3, std::vector<double>(19, 1.0)), Error);
}

TEST(Waterfall, ALongRunIsDrawnInBlocksThatKeepTheirLargestValue) {
  // 7000 images of 3000 bins: blocks of 11 images and 4 bins, 637 x 750 cells.
  Waterfall w(7000, Unit::q_inv_nm, bins(3000), 0.01);
  for (std::size_t k = 0; k < 7000; ++k) {
    std::vector<double> values(3000, 1.0);
    if (k == 6999) values[2999] = 1000;
    if (k == 15) values[5] = 1000;  // in the block of images 11 to 21, bins 4 to 7
    w.add(k, values);
  }
  const Picture p = read_back(w.png("long run"));
  EXPECT_TRUE(yellow(cell(p, 749, 750, 636, 637)));
  EXPECT_TRUE(yellow(cell(p, 1, 750, 1, 637)));
  for (const auto& [column, row] : {std::pair{1, 0}, {2, 1}, {1, 2}}) {
    EXPECT_TRUE(dark(cell(p, column, 750, row, 637))) << column << ", " << row;
  }
  EXPECT_TRUE(dark(cell(p, 375, 750, 300, 637)));
}

}  // namespace
}  // namespace vokip
