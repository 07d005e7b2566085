// PNG pictures: what libpng reads back from the written bytes, and the
// pictures that cannot be written.
#include <gtest/gtest.h>
#include <png.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/pictures/png.h"
#include "support/test_files.h"

namespace vokip {
namespace {

// The picture libpng reads from the bytes, in the given form.
Picture read_back(const std::vector<std::uint8_t>& bytes, Picture::Colour colour) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  EXPECT_TRUE(png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
      << image.message;
  image.format = colour == Picture::Colour::grey ? PNG_FORMAT_GRAY : PNG_FORMAT_RGB;
  Picture p(static_cast<int>(image.width), static_cast<int>(image.height), colour);
  EXPECT_TRUE(png_image_finish_read(&image, nullptr, p.samples.data(), 0, nullptr))
      << image.message;
  return p;
}

TEST(PngPicture, ColourAndGreyPicturesReadBackPixelForPixel) {
  Picture colour(5, 3, Picture::Colour::rgb, {10, 20, 30});
  colour.set(0, 0, {255, 0, 0});
  colour.set(4, 2, {0, 255, 7});
  colour.set(5, 0, {1, 1, 1});  // outside: left alone
  colour.set(-1, 1, {1, 1, 1});
  const std::vector<std::uint8_t> bytes = encode_png(colour);
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 4), "PNG");
  const Picture back = read_back(bytes, Picture::Colour::rgb);
  EXPECT_EQ(back.width, 5);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.samples, colour.samples);
  EXPECT_EQ(back.at(4, 2).g, 255);
  EXPECT_EQ(back.at(4, 2).b, 7);
  EXPECT_EQ(back.at(1, 1).r, 10);

  Picture grey(2, 2, Picture::Colour::grey);
  grey.set(1, 0, {0, 200, 0});
  grey.set(0, 1, {9, 9, 9});
  EXPECT_EQ(grey.samples, (std::vector<std::uint8_t>{0, 200, 9, 0}));
  EXPECT_EQ(read_back(encode_png(grey), Picture::Colour::grey).samples, grey.samples);

  TempDir dir;
  write_png(dir.file("p.png"), colour);
  EXPECT_EQ(read_file(dir.file("p.png")), bytes);
}

TEST(PngPicture, PicturesWithoutPixelsOrWithTheWrongSamplesAreRefused) {
  EXPECT_THROW(encode_png(Picture()), Error);
  Picture short_of_samples(3, 3, Picture::Colour::rgb);
  short_of_samples.samples.pop_back();
  try {
    encode_png(short_of_samples);
    FAIL() << "encoded a picture short of samples";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "the picture's samples do not fill its 3 x 3 pixels");
  }
  TempDir dir;
  EXPECT_THROW(write_png(dir.file("no/such/folder/p.png"), Picture(1, 1, Picture::Colour::grey)),
               Error);
}

}  // namespace
}  // namespace vokip
