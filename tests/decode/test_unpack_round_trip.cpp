// Images packed by the test packer decode back to themselves, with every run
// code and every width code of the stream format in use across the cases.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "decode/decode_exact.h"
#include "decode/test_images.h"
#include "support/packer.h"

namespace {

using Pixels = std::vector<std::uint16_t>;

struct RoundTrip {
  std::string name;
  Pixels image;
  std::int64_t w;
  PackOptions options = {};
  Pixels prior = {};  // output content before decoding; empty: a sentinel
};

std::vector<RoundTrip> round_trips() {
  using namespace test_images;
  std::vector<RoundTrip> cases;
  auto add = [&cases](std::string name, Pixels image, std::int64_t w) -> RoundTrip& {
    cases.push_back({std::move(name), std::move(image), w});
    return cases.back();
  };
  add("uniform 37x23", uniform(37 * 23, 1), 37);
  add("uniform 1 pixel", uniform(1, 2), 1);
  add("uniform 2x7", uniform(14, 3), 2);
  add("uniform 3x5", uniform(15, 4), 3);
  add("uniform 17x9 counts", uniform(17 * 9, 5), 17).options.rule = DifferenceRule::counts;
  add("uniform 17 wide, last row short", uniform(17 * 6 + 5, 6), 17);
  add("low counts 257x129", low_counts(257 * 129, 7), 257);
  add("low counts 2x301", low_counts(602, 8), 2);
  add("smooth rings 200x150", rings(200, 150, 0.0, 9), 200);
  add("noisy rings 301x199 counts", rings(301, 199, 1.0, 10), 301).options.rule =
      DifferenceRule::counts;
  add("constant 0", Pixels(100 * 50, 0), 100);
  add("constant 65535", Pixels(100 * 50, 65535), 100);
  add("constant 65535 counts", Pixels(99 * 3, 65535), 99).options.rule = DifferenceRule::counts;
  add("jumps 0/65535", isolated_jumps(64 * 33, 1000, 11), 64);
  add("jumps 0/65535 counts", isolated_jumps(63 * 31, 1000, 12), 63).options.rule =
      DifferenceRule::counts;
  {
    RoundTrip& c = add("every run code and least width, scrambled", low_counts(40 * 37, 13), 40);
    c.options.run_codes = {0, 1, 2, 3, 4, 5, 6, 7};
    c.options.min_width_codes = {0, 1, 2, 3, 4, 5, 6, 7, 7};
    c.options.scramble_high_bits = true;
  }
  {
    RoundTrip& c = add("32-bit fields, scrambled", rings(50, 40, 1.0, 14), 50);
    c.options.min_width_codes = {7};
    c.options.scramble_high_bits = true;
  }
  {
    RoundTrip& c = add("padded last block", low_counts(29 * 5, 15), 29);
    c.options.run_codes = {7};
    c.options.pad_last_block = true;
  }
  // Width 1: from the third pixel on the predictor reads the output's prior content.
  for (int k = 0; k < 2; ++k) {
    RoundTrip& c = add(k == 0 ? "width 1 uniform" : "width 1 rings",
                       k == 0 ? uniform(50, 16) : rings(1, 300, 1.0, 17), 1);
    c.prior = uniform(static_cast<std::int64_t>(c.image.size()), 18 + k);
  }
  return cases;
}

TEST(UnpackRoundTrip, PackedImagesDecodeBackUsingEveryCode) {
  std::array<std::int64_t, 8> run_codes{}, width_codes{};
  for (RoundTrip& c : round_trips()) {
    SCOPED_TRACE(c.name);
    const std::int64_t n = static_cast<std::int64_t>(c.image.size());
    const Pixels before = c.prior.empty() ? Pixels(c.image.size(), 0x5A5A) : c.prior;
    if (!c.prior.empty()) c.options.prior = c.prior.data();
    PackStats stats;
    const std::vector<std::uint8_t> stream = pack_image(c.image.data(), n, c.w, c.options, &stats);

    const Decoded d = decode_exact(stream, c.w, before);
    EXPECT_EQ(d.result.pixels, n);
    EXPECT_TRUE(d.image == c.image);
    // Exactly the bytes that hold the bits read, even when the stream goes on.
    EXPECT_EQ(d.result.bytes_fetched, (stats.bits_read + 7) / 8);
    if (c.options.pad_last_block) {
      EXPECT_LT(d.result.bytes_fetched, static_cast<std::int64_t>(stream.size()));
    } else {
      EXPECT_EQ(d.result.bytes_fetched, static_cast<std::int64_t>(stream.size()));
    }

    for (int k = 0; k < 8; ++k) {
      run_codes[k] += stats.run_code_blocks[k];
      width_codes[k] += stats.width_code_blocks[k];
    }
  }
  for (int k = 0; k < 8; ++k) {
    EXPECT_GT(run_codes[k], 0) << "run code " << k << " never used";
    EXPECT_GT(width_codes[k], 0) << "width code " << k << " never used";
  }
}

TEST(UnpackRoundTrip, PackerHonoursForcedCodes) {
  const Pixels image = test_images::low_counts(300, 19);
  PackOptions options;
  options.run_codes = {3, 0, 5};
  options.min_width_codes = {6};
  PackStats stats;
  const std::vector<std::uint8_t> stream = pack_image(image.data(), 300, 20, options, &stats);
  // Blocks of 8, 1 and 32 values in turn, all 16 bits wide: 41 pixels per cycle.
  EXPECT_EQ(stats.width_code_blocks[6], stats.blocks);
  EXPECT_EQ(stats.run_code_blocks[3] + stats.run_code_blocks[0] + stats.run_code_blocks[5],
            stats.blocks);
  // 7 cycles cover 287 pixels; then 8, 1 and the last 4 in a block of 32.
  EXPECT_EQ(stats.blocks, 3 * 7 + 3);
  EXPECT_EQ(stats.bits_read, 6 * stats.blocks + 16 * 300);
  EXPECT_EQ(decode_exact(stream, 20, Pixels(300, 0)).image, image);
}

}  // namespace
