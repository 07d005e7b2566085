// Darks, flats and masks from other programs: TIFF of every sample type the
// reader takes (written here with libtiff), EDF as pyFAI writes it, MAR345,
// and the files it refuses with their reason.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/formats/image_files.h"
#include "engine/formats/mask.h"
#include "support/mar345_writer.h"
#include "support/test_files.h"

namespace vokip {
namespace {

// A one-sample-per-pixel TIFF of the given sample type, each row a strip.
template <class T>
std::vector<std::uint8_t> tiff_of(const std::vector<T>& values, int width, int height, int format,
                                  int samples = 1) {
  TempDir dir;
  const std::string path = dir.file("image.tif");
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<int>(8 * sizeof(T)));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, samples == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
  for (int row = 0; row < height; ++row) {
    std::vector<T> line(values.begin() + static_cast<std::ptrdiff_t>(row) * width * samples,
                        values.begin() + static_cast<std::ptrdiff_t>(row + 1) * width * samples);
    TIFFWriteScanline(t, line.data(), row, 0);
  }
  TIFFClose(t);
  return read_file(path);
}

// An EDF as pyFAI writes its masks: a text header in braces padded to 512
// bytes, then the pixels.
std::vector<std::uint8_t> edf_of(const std::vector<std::uint8_t>& data, int width, int height,
                                 const std::string& type, const std::string& order) {
  std::string header =
      "{\nHeaderID = EH:000001:000000:000000 ;\nImage = 1 ;\nByteOrder = " + order +
      " ;\nDataType = " + type + " ;\nDim_1 = " + std::to_string(width) +
      " ;\nDim_2 = " + std::to_string(height) + " ;\nSize = " + std::to_string(data.size()) +
      " ;\n";
  header.resize(510, ' ');
  header += "}\n";
  std::vector<std::uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

std::string error_of(const std::vector<std::uint8_t>& bytes, bool as_mask) {
  try {
    if (as_mask) {
      parse_mask(bytes);
    } else {
      parse_value_image(bytes);
    }
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

TEST(ImageFiles, TiffOfEverySampleTypeReadsItsValues) {
  const int w = 3, h = 2;
  const std::vector<double> expected = {0, 1, 200, 3, 250, 7};
  auto check = [&](const std::vector<std::uint8_t>& bytes, const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(image_format(bytes), ImageFormat::tiff);
    const ValueImage image = parse_value_image(bytes);
    ASSERT_EQ(image.width, w);
    ASSERT_EQ(image.height, h);
    for (int i = 0; i < w * h; ++i) EXPECT_EQ(image.values[i], expected[i]) << i;
  };
  check(tiff_of<std::uint8_t>({0, 1, 200, 3, 250, 7}, w, h, SAMPLEFORMAT_UINT), "8-bit");
  check(tiff_of<std::uint16_t>({0, 1, 200, 3, 250, 7}, w, h, SAMPLEFORMAT_UINT), "16-bit");
  check(tiff_of<std::uint32_t>({0, 1, 200, 3, 250, 7}, w, h, SAMPLEFORMAT_UINT), "32-bit");
  check(tiff_of<float>({0, 1, 200, 3, 250, 7}, w, h, SAMPLEFORMAT_IEEEFP), "float");
  const ValueImage negative =
      parse_value_image(tiff_of<std::int16_t>({-5, 1, 2, 3, 4, 5}, w, h, SAMPLEFORMAT_INT));
  EXPECT_EQ(negative.values[0], -5);
  const ValueImage large = parse_value_image(
      tiff_of<std::uint32_t>({4000000000u, 1, 2, 3, 4, 5}, w, h, SAMPLEFORMAT_UINT));
  EXPECT_EQ(large.values[0], 4e9f);
}

TEST(ImageFiles, EdfInBothByteOrdersAndMarFilesRead) {
  // Unsigned shorts 1, 258, 0, 65535.
  const ValueImage little = parse_value_image(
      edf_of({1, 0, 2, 1, 0, 0, 255, 255}, 2, 2, "UnsignedShort", "LowByteFirst"));
  EXPECT_EQ(little.values, (std::vector<float>{1, 258, 0, 65535}));
  const ValueImage big = parse_value_image(
      edf_of({0, 1, 1, 2, 0, 0, 255, 255}, 2, 2, "UnsignedShort", "HighByteFirst"));
  EXPECT_EQ(big.values, little.values);
  const ValueImage bytes =
      parse_value_image(edf_of({0, 1, 0, 7, 0, 0}, 3, 2, "SignedByte", "LowByteFirst"));
  EXPECT_EQ(bytes.values, (std::vector<float>{0, 1, 0, 7, 0, 0}));
  float f[2] = {1.5f, -2.25f};
  std::vector<std::uint8_t> floats(8);
  std::memcpy(floats.data(), f, 8);
  EXPECT_EQ(parse_value_image(edf_of(floats, 2, 1, "FloatValue", "LowByteFirst")).values,
            (std::vector<float>{1.5f, -2.25f}));

  // A MAR345 image gives its full values, overflow pixels included.
  std::vector<std::uint16_t> low(8 * 8, 100);
  const ValueImage mar = parse_value_image(write_mar345(small_contents(8, low, {{10, 70000}})));
  EXPECT_EQ(mar.width, 8);
  EXPECT_EQ(mar.values[9], 70000);
  EXPECT_EQ(mar.values[8], 100);
}

TEST(ImageFiles, MasksComeInEveryFormat) {
  const std::vector<std::uint8_t> expected = {0, 1, 0, 1, 0, 0};
  const Mask edf = parse_mask(edf_of({0, 1, 0, 9, 0, 0}, 3, 2, "UnsignedByte", "LowByteFirst"));
  EXPECT_EQ(edf.width, 3);
  EXPECT_EQ(edf.excluded, expected);
  const Mask tiff =
      parse_mask(tiff_of<std::uint8_t>({0, 255, 0, 1, 0, 0}, 3, 2, SAMPLEFORMAT_UINT));
  EXPECT_EQ(tiff.excluded, expected);
  const std::string pgm = "P2 3 2 255\n0 1 0 4 0 0\n";
  EXPECT_EQ(parse_mask(std::vector<std::uint8_t>(pgm.begin(), pgm.end())).excluded, expected);
}

TEST(ImageFiles, FilesThatAreNoImagesAreRefused) {
  EXPECT_NE(
      error_of(tiff_of<std::uint8_t>(std::vector<std::uint8_t>(18), 3, 2, SAMPLEFORMAT_UINT, 3),
               false)
          .find("3 sample(s) of 8-bit integers"),
      std::string::npos);
  EXPECT_NE(error_of(tiff_of<double>(std::vector<double>(6), 3, 2, SAMPLEFORMAT_IEEEFP), false)
                .find("64-bit floats"),
            std::string::npos);
  std::vector<std::uint8_t> cut =
      tiff_of<std::uint16_t>(std::vector<std::uint16_t>(600, 5), 30, 20, SAMPLEFORMAT_UINT);
  cut.resize(cut.size() / 2);
  EXPECT_FALSE(error_of(cut, false).empty());
  EXPECT_EQ(error_of(edf_of({1, 2, 3}, 2, 2, "UnsignedByte", "LowByteFirst"), false),
            "the EDF holds 3 of its 4 pixels");
  EXPECT_EQ(error_of(edf_of({1, 2, 3, 4}, 2, 2, "Complex", "LowByteFirst"), false),
            "the EDF's DataType 'Complex' is not read");
  std::vector<std::uint8_t> no_dim = edf_of({1, 2}, 2, 1, "UnsignedByte", "LowByteFirst");
  const std::string text(no_dim.begin(), no_dim.end());
  const std::size_t at = text.find("Dim_2");
  no_dim[at + 4] = '9';
  EXPECT_EQ(error_of(no_dim, false), "the EDF header has no Dim_2");
  const std::string words = "hello";
  EXPECT_EQ(error_of(std::vector<std::uint8_t>(words.begin(), words.end()), false),
            "not a MAR345, TIFF or EDF image");
  EXPECT_EQ(error_of(std::vector<std::uint8_t>(words.begin(), words.end()), true),
            "not a PGM, FIT2D, TIFF or EDF mask");
}

}  // namespace
}  // namespace vokip
