// The decoder on streams written by hand, bit by bit, with expected pixels
// worked out by hand from the stream format and the predictor.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "decode/decode_exact.h"
#include "decode/stream_writer.h"

namespace {

using Pixels = std::vector<std::uint16_t>;
constexpr std::uint16_t kSentinel = 0xA5A5;

Pixels sentinels(std::size_t n) {
  return Pixels(n, kSentinel);
}

// Stream bytes needed for a number of bits.
std::int64_t bytes_for(std::size_t bits) {
  return static_cast<std::int64_t>((bits + 7) / 8);
}

// One block, run code 2, width code 2: four 5-bit differences 10, 2, -3, 1.
const std::vector<std::uint8_t> kFourPixels = {0x92, 0x12, 0x3D, 0x00};

TEST(UnpackStreams, FourByteExampleDecodesAndFetchesEveryByte) {
  const Decoded d = decode_exact(kFourPixels, 2, sentinels(4));
  // p=2 (= w) takes the left neighbour 12 - 3; p=3 takes (9 + 9 + 12 + 10 + 2) / 4 + 1.
  EXPECT_EQ(d.image, (Pixels{10, 12, 9, 11}));
  EXPECT_EQ(d.result.pixels, 4);
  EXPECT_EQ(d.result.bytes_fetched, 4);
}

TEST(UnpackStreams, HandWriterReproducesTheExampleBytes) {
  StreamWriter s;
  s.header(2, 2).field(10, 5).field(2, 5).field(0b11101, 5).field(1, 5);
  EXPECT_EQ(s.bytes(), kFourPixels);
}

TEST(UnpackStreams, ExamplePrefixesStopAtTheLastWholeField) {
  // Bits: header 0..5, fields at 6..10, 11..15, 16..20, 21..25.
  struct Case {
    std::size_t bytes;
    std::int64_t pixels;
    Pixels image;
  };
  const Case cases[] = {
      {0, 0, {kSentinel, kSentinel, kSentinel, kSentinel}},
      {1, 0, {kSentinel, kSentinel, kSentinel, kSentinel}},
      {2, 2, {10, 12, kSentinel, kSentinel}},
      {3, 3, {10, 12, 9, kSentinel}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    const std::vector<std::uint8_t> prefix(kFourPixels.begin(), kFourPixels.begin() + c.bytes);
    const Decoded d = decode_exact(prefix, 2, sentinels(4));
    EXPECT_EQ(d.result.pixels, c.pixels);
    EXPECT_EQ(d.image, c.image);
    EXPECT_LE(d.result.bytes_fetched, static_cast<std::int64_t>(c.bytes));
  }
}

TEST(UnpackStreams, FieldsAreSignExtendedFromTheirTopBit) {
  // One pixel, so the pixel is the difference modulo 2^16.
  struct Case {
    int width_code, width;
    std::uint32_t field;
    std::uint16_t pixel;
  };
  const Case cases[] = {
      {1, 4, 0x8, 65528},
      {1, 4, 0x7, 7},
      {1, 4, 0xF, 65535},
      {2, 5, 0x10, 65520},
      {2, 5, 0xF, 15},
      {3, 6, 0x20, 65504},
      {3, 6, 0x1F, 31},
      {4, 7, 0x40, 65472},
      {4, 7, 0x3F, 63},
      {5, 8, 0x80, 65408},
      {5, 8, 0x7F, 127},
      {5, 8, 0xFF, 65535},
      {6, 16, 0x8000, 32768},
      {6, 16, 0x7FFF, 32767},
      {6, 16, 0xFFFF, 65535},
      {7, 32, 0x80000000, 0},
      {7, 32, 0x7FFFFFFF, 65535},
      {7, 32, 0xFFFFFFFF, 65535},
      {7, 32, 0x0001ABCD, 0xABCD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.width_code << " field " << c.field);
    StreamWriter s;
    s.header(0, c.width_code).field(c.field, c.width);
    const Decoded d = decode_exact(s.bytes(), 1, sentinels(1));
    EXPECT_EQ(d.image, Pixels{c.pixel});
    EXPECT_EQ(d.result.bytes_fetched, bytes_for(6 + c.width));
  }
}

TEST(UnpackStreams, ThirtyTwoBitFieldsSplitAcrossBytesAtEveryBitOffset) {
  // k single 5-bit fields of +1 (11 bits per block) move the 32-bit field's
  // start through every bit position of a byte.
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE(k);
    StreamWriter s;
    for (int i = 0; i < k; ++i) s.header(0, 2).field(1, 5);
    s.header(0, 7).field(0x1234ABCD, 32);
    const Decoded d = decode_exact(s.bytes(), k + 1, sentinels(k + 1));
    Pixels expected;
    for (int i = 1; i <= k; ++i) expected.push_back(static_cast<std::uint16_t>(i));
    expected.push_back(static_cast<std::uint16_t>(0xABCD + k));
    EXPECT_EQ(d.image, expected);
    EXPECT_EQ(d.result.bytes_fetched, bytes_for(11 * k + 38));
  }
}

TEST(UnpackStreams, ThirtyTwoBitDifferenceWrapsInThirtyTwoBitsThenSixteen) {
  StreamWriter s;
  s.header(1, 7).field(0x00010005, 32).field(0x7FFFFFFF, 32).header(0, 6).field(0xFFFF, 16);
  const Decoded d = decode_exact(s.bytes(), 4, sentinels(3));
  // 5; 5 + 0x7FFFFFFF = 0x80000004 keeps 4; 4 - 1.
  EXPECT_EQ(d.image, (Pixels{5, 4, 3}));
  EXPECT_EQ(d.result.bytes_fetched, 12);  // 92 bits
}

TEST(UnpackStreams, WidthCodeZeroRepeatsPredictionsWithoutTakingBits) {
  {
    // First row 7 7 7 7, then 128 predictions of 7, then one 4-bit +3.
    StreamWriter s;
    s.header(2, 1).field(7, 4).field(0, 4).field(0, 4).field(0, 4);
    s.header(7, 0).header(0, 1).field(3, 4);
    Pixels expected(133, 7);
    expected[132] = 10;
    const Decoded d = decode_exact(s.bytes(), 4, sentinels(133));
    EXPECT_EQ(d.image, expected);
    EXPECT_EQ(d.result.bytes_fetched, 5);  // 38 bits
  }
  {
    // First row 10 20 16 24; the 128-value block stops at the eighth pixel.
    StreamWriter s;
    s.header(2, 5).field(10, 8).field(10, 8).field(0xFC, 8).field(8, 8).header(7, 0);
    const Decoded d = decode_exact(s.bytes(), 4, sentinels(8));
    // p4 = 24; p5 = (24+16+20+10+2)/4 = 18; p6 = (18+24+16+20+2)/4 = 20;
    // p7 = (20+24+24+16+2)/4 = 21.
    EXPECT_EQ(d.image, (Pixels{10, 20, 16, 24, 24, 18, 20, 21}));
    EXPECT_EQ(d.result.bytes_fetched, 6);  // 44 bits
  }
  {
    // A run-code-0 width-0 block first: one pixel of 0.
    StreamWriter s;
    s.header(0, 0).header(0, 1).field(5, 4);
    const Decoded d = decode_exact(s.bytes(), 2, sentinels(2));
    EXPECT_EQ(d.image, (Pixels{0, 5}));
    EXPECT_EQ(d.result.bytes_fetched, 2);
  }
}

TEST(UnpackStreams, BlockPastTheLastPixelStopsAndLeavesLaterBytesUnfetched) {
  StreamWriter s;
  s.header(7, 1).field(1, 4).field(2, 4).field(3, 4);
  for (int i = 0; i < 125; ++i) s.field(0xF, 4);  // the rest of the block, never needed
  const Decoded d = decode_exact(s.bytes(), 2, sentinels(3));
  EXPECT_EQ(d.image, (Pixels{1, 3, 6}));
  EXPECT_EQ(d.result.pixels, 3);
  EXPECT_EQ(d.result.bytes_fetched, 3);  // 18 bits of 65 bytes
}

TEST(UnpackStreams, RowsAreFlatIndices) {
  // w = 3. p5 takes p3, the first pixel of its own row, as above-right;
  // p6 takes the row above's last pixel p5 as left and p2 as above-left.
  StreamWriter s;
  s.header(3, 5);
  for (int d : {10, 20, 30, -20, 0, 0, 1}) s.field(static_cast<std::uint32_t>(d), 8);
  const Decoded d = decode_exact(s.bytes(), 3, sentinels(7));
  // p4 = (40+60+30+10+2)/4 = 35; p5 = (35+40+60+30+2)/4 = 41; p6 = (41+35+40+60+2)/4 + 1.
  EXPECT_EQ(d.image, (Pixels{10, 30, 60, 40, 35, 41, 45}));
  EXPECT_EQ(d.result.bytes_fetched, 8);  // 62 bits
}

TEST(UnpackStreams, NegativeNeighbourSumsDivideTowardZero) {
  struct Case {
    int d2;
    Pixels image;
  };
  // Pixels -1, -2, then -2 + d2; p3 = (p2 + p2 + p1 + p0 + 2) / 4 with difference 0.
  const Case cases[] = {
      // -1 -1 -2 -1 + 2 = -3: quotient 0 (an arithmetic shift would give -1).
      {1, {0xFFFF, 0xFFFE, 0xFFFF, 0}},
      // -2 -2 -2 -1 + 2 = -5: quotient -1 (a shift would give -2).
      {0, {0xFFFF, 0xFFFE, 0xFFFE, 0xFFFF}},
  };
  for (const Case& c : cases) {
    StreamWriter s;
    s.header(2, 1)
        .field(0xF, 4)
        .field(0xF, 4)
        .field(static_cast<std::uint32_t>(c.d2), 4)
        .field(0, 4);
    const Decoded d = decode_exact(s.bytes(), 2, sentinels(4));
    EXPECT_EQ(d.image, c.image);
  }
}

TEST(UnpackStreams, StoredPixelsWrapAndAreReadBackSigned) {
  {
    // 32767; 32767 + 32767 = 65534; 65534 + 3 wraps to 1;
    // p3 = (1 + 1 + (-2) + 32767 + 2) / 4 = 8192 (read unsigned it would be 24576).
    StreamWriter s;
    s.header(2, 6).field(0x7FFF, 16).field(0x7FFF, 16).field(3, 16).field(0, 16);
    const Decoded d = decode_exact(s.bytes(), 2, sentinels(4));
    EXPECT_EQ(d.image, (Pixels{32767, 65534, 1, 8192}));
  }
  {
    // Three pixels of 65535 (-1): p3 = (-4 + 2) / 4 = 0, not 65535.
    StreamWriter s;
    s.header(2, 1).field(0xF, 4).field(0, 4).field(0, 4).field(0, 4);
    const Decoded d = decode_exact(s.bytes(), 2, sentinels(4));
    EXPECT_EQ(d.image, (Pixels{65535, 65535, 65535, 0}));
  }
}

TEST(UnpackStreams, WidthOneReadsEachPixelsPriorContentAsAboveRight) {
  StreamWriter s;
  s.header(2, 5).field(10, 8).field(2, 8).field(0, 8).field(1, 8);
  // p2 = (12 + prior2 + 12 + 10 + 2) / 4; p3 = (p2 + prior3 + p2 + 12 + 2) / 4 + 1.
  EXPECT_EQ(decode_exact(s.bytes(), 1, Pixels{0, 0, 100, 200}).image, (Pixels{10, 12, 34, 71}));
  EXPECT_EQ(decode_exact(s.bytes(), 1, Pixels(4, 0)).image, (Pixels{10, 12, 9, 9}));
}

TEST(UnpackStreams, WidthBelowOneOrBeyondTheImageDecodesOneRow) {
  // Every pixel from its left neighbour: 10, 12, 9, 10.
  for (std::int64_t w : {0, -3, 4, 100}) {
    SCOPED_TRACE(w);
    const Decoded d = decode_exact(kFourPixels, w, sentinels(4));
    EXPECT_EQ(d.image, (Pixels{10, 12, 9, 10}));
    EXPECT_EQ(d.result.pixels, 4);
  }
}

TEST(UnpackStreams, NothingToDecodeOrNothingToRead) {
  // No pixels asked for: nothing is read or written (the output may be null).
  EXPECT_EQ(unpack_image(kFourPixels.data(), 4, nullptr, 0, 2).pixels, 0);
  EXPECT_EQ(unpack_image(kFourPixels.data(), 4, nullptr, -5, 2).bytes_fetched, 0);
  // No stream: nothing decoded, the output untouched.
  Pixels image = sentinels(4);
  for (std::int64_t count : {0, -1}) {
    const UnpackResult r = unpack_image(nullptr, count, image.data(), 4, 2);
    EXPECT_EQ(r.pixels, 0);
    EXPECT_EQ(r.bytes_fetched, 0);
  }
  EXPECT_EQ(image, sentinels(4));
}

}  // namespace
