// Truncated and garbage streams: the decoder stops at the last whole field,
// reports how far it got, leaves the remaining pixels alone and never reads
// past the stream (the stream and image are exactly-sized heap copies, so a
// sanitizer build catches any overread). A second decoder, built on a spill
// byte instead of a 64-bit window, must agree pixel for pixel.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decode/decode_exact.h"
#include "decode/test_images.h"
#include "support/packer.h"

namespace {

using Pixels = std::vector<std::uint16_t>;
constexpr std::uint16_t kSentinel = 0xA5A5;

void expect_same(const Decoded& got, const Decoded& reference, bool complete) {
  EXPECT_EQ(got.result.pixels, reference.result.pixels);
  EXPECT_TRUE(got.image == reference.image);
  if (complete) {
    EXPECT_EQ(got.result.bytes_fetched, reference.result.bytes_fetched);
  }
}

// Decodes every prefix of a valid stream.
void check_prefixes(const Pixels& image, std::int64_t w, const PackOptions& options,
                    const Pixels& before) {
  const std::int64_t n = static_cast<std::int64_t>(image.size());
  const std::vector<std::uint8_t> stream = pack_image(image.data(), n, w, options);
  std::int64_t previous_pixels = 0;
  for (std::size_t length = 0; length <= stream.size(); ++length) {
    SCOPED_TRACE(length);
    const std::vector<std::uint8_t> prefix(stream.begin(), stream.begin() + length);
    const Decoded d = decode_exact(prefix, w, before);
    const std::int64_t pixels = d.result.pixels;
    ASSERT_GE(pixels, previous_pixels);
    ASSERT_LE(d.result.bytes_fetched, static_cast<std::int64_t>(length));
    if (length < stream.size()) {
      ASSERT_LT(pixels, n);
    }
    for (std::int64_t p = 0; p < n; ++p) {
      ASSERT_EQ(d.image[p], p < pixels ? image[p] : before[p]) << "pixel " << p;
    }
    expect_same(d, reference_exact(prefix, w, before), length == stream.size());
    previous_pixels = pixels;
  }
  EXPECT_EQ(previous_pixels, n);
}

TEST(UnpackTruncated, EveryPrefixOfAValidStream) {
  Pixels image = test_images::low_counts(17 * 9, 21);
  image[40] = 65535;  // wide fields among narrow ones
  image[41] = 0;
  PackOptions options;
  options.rule = DifferenceRule::counts;
  options.run_codes = {0, 3, 1, 7, 2, 4, 6, 5};
  check_prefixes(image, 17, options, Pixels(image.size(), kSentinel));

  options.run_codes = {};
  options.min_width_codes = {7, 1, 6, 2};
  check_prefixes(test_images::uniform(3 * 11, 22), 3, options, Pixels(33, kSentinel));
}

TEST(UnpackTruncated, EveryPrefixOfAWidthOneStream) {
  const Pixels image = test_images::rings(1, 60, 1.0, 23);
  const Pixels prior = test_images::uniform(60, 24);
  PackOptions options;
  options.prior = prior.data();
  check_prefixes(image, 1, options, prior);
}

TEST(UnpackTruncated, GarbageStreamsAgreeWithTheSpillByteDecoder) {
  std::mt19937 random(25);
  for (std::int64_t w : {1, 2, 3, 17}) {
    for (std::size_t length = 0; length <= 200; ++length) {
      SCOPED_TRACE(testing::Message() << "w " << w << " length " << length);
      std::vector<std::uint8_t> garbage(length);
      for (auto& byte : garbage) byte = static_cast<std::uint8_t>(random());
      // Enough pixels that most streams end first, and few enough that some do not.
      const std::int64_t n = 1 + static_cast<std::int64_t>(random() % 400);
      const Pixels before = test_images::uniform(n, static_cast<unsigned>(length));
      const Decoded d = decode_exact(garbage, w, before);
      const Decoded r = reference_exact(garbage, w, before);
      expect_same(d, r, d.result.pixels == n);
      for (std::int64_t p = d.result.pixels; p < n; ++p) ASSERT_EQ(d.image[p], before[p]);
      ASSERT_LE(d.result.bytes_fetched, static_cast<std::int64_t>(length));
    }
  }
}

}  // namespace
