// Mask files: the forms a PGM mask takes, FIT2D masks in both byte orders,
// and damaged ones refused.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/formats/image_files.h"
#include "engine/formats/mask.h"

namespace vokip {
namespace {

TEST(MaskFile, BinaryAndTextPgmGiveTheSameMask) {
  std::string binary = "P5\n# beam stop\n3 2\n255\n";
  binary += std::string("\0\xff\0\0\0\x01", 6);
  Mask a = parse_mask(std::vector<std::uint8_t>(binary.begin(), binary.end()));
  const std::string text = "P2 3 2 15\n0 15 0\n0 0 1\n";
  const Mask b = parse_mask(std::vector<std::uint8_t>(text.begin(), text.end()));
  EXPECT_EQ(a.width, 3);
  EXPECT_EQ(a.height, 2);
  EXPECT_EQ(a.excluded, (std::vector<std::uint8_t>{0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(b.excluded, a.excluded);

  std::string wide = "P5 2 1 65535\n";
  wide += std::string("\0\0\x01\0", 4);
  a = parse_mask(std::vector<std::uint8_t>(wide.begin(), wide.end()));
  EXPECT_EQ(a.excluded, (std::vector<std::uint8_t>{0, 1}));
}

TEST(MaskFile, DamagedMasksAreRefused) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"P6 1 1 255\n\x01\x02\x03", "not a PGM, FIT2D, TIFF or EDF mask"},
      {"P5 3 2\n", "malformed PGM header"},
      {"P5 3 2 255\n\x01", "holds 1 of its 6 pixels"},
      {"P2 2 2 1\n0 1 1", "ends after 3 of 4 pixels"},
      {"P5 99999 99999 255\n", "malformed PGM header"},
  };
  for (const auto& [content, message] : cases) {
    try {
      parse_mask(std::vector<std::uint8_t>(content.begin(), content.end()));
      ADD_FAILURE() << "accepted: " << message;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
}

std::string error_of_fit2d(const std::vector<std::uint8_t>& bytes) {
  try {
    parse_mask(bytes);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

// pattern-37x5.msk was written by fabio 0.14 (Debian's python3-fabio, the
// reader pyFAI and Dioptas use) from a 5 x 37 array in which pixel (r, c) is
// masked when (7 r + 3 c) mod 5 == 0: rows of two words, the second partly
// used.
TEST(MaskFile, Fit2dMasksAsFabioWritesThemInBothByteOrders) {
  const std::vector<std::uint8_t> little =
      read_file(std::string(VOKIP_SOURCE_DIR) + "/tests/engine/formats/pattern-37x5.msk");
  std::vector<std::uint8_t> expected;
  for (int r = 0; r < 5; ++r) {
    for (int c = 0; c < 37; ++c) expected.push_back((7 * r + 3 * c) % 5 == 0);
  }
  const Mask mask = parse_mask(little);
  EXPECT_EQ(mask.width, 37);
  EXPECT_EQ(mask.height, 5);
  EXPECT_EQ(mask.excluded, expected);

  // The same words written big-endian.
  std::vector<std::uint8_t> big = little;
  for (std::size_t k = 0; k + 4 <= big.size(); k += 4) {
    std::swap(big[k], big[k + 3]);
    std::swap(big[k + 1], big[k + 2]);
  }
  EXPECT_EQ(parse_mask(big).excluded, expected);

  std::vector<std::uint8_t> cut = little;
  cut.resize(cut.size() - 4);
  EXPECT_EQ(error_of_fit2d(cut), "the FIT2D mask holds 4 of its 5 rows");
  cut.resize(512);
  EXPECT_EQ(error_of_fit2d(cut), "the FIT2D mask's header is cut short");
  std::vector<std::uint8_t> empty = little;
  empty[16] = 0;  // width 0
  EXPECT_EQ(error_of_fit2d(empty), "the FIT2D mask's size 0 x 5 is not an image's");
  std::vector<std::uint8_t> other = little;
  other[4] = 'B';
  EXPECT_EQ(error_of_fit2d(other), "not a PGM, FIT2D, TIFF or EDF mask");
}

}  // namespace
}  // namespace vokip
