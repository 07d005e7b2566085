// Mask files: the forms a PGM mask takes, and damaged ones refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/error.h"
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
      {"P6 1 1 255\n\x01\x02\x03", "not a PGM mask"},
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

}  // namespace
}  // namespace vokip
