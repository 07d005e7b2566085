// UNPCK called by name through the stand-in host, in both host modes: the
// arguments' conversion, the results in the caller's own array, and the
// lines printed around the work.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decode/test_images.h"
#include "host/host.h"
#include "support/packer.h"

namespace {

using Lines = std::vector<std::string>;
using Pixels = std::vector<std::uint16_t>;
using vokip_host::Mode;

const std::string kGreeting = "% UNPCK: Welcome to MAR image plate unpck routine.";
const std::string kGoodbye = "% UNPCK: Goodbye!.";
const std::string kTruncated = "% UNPCK: Packed stream ended before the image was complete.";
const std::string kOutType =
    "% UNPCK: Output argument is not an array of the required type; nothing was computed.";

// Four 5-bit differences 10, 2, -3, 1: a 2 x 2 image 10, 12, 9, 11.
const std::vector<std::uint8_t> kFourPixels = {0x92, 0x12, 0x3D, 0x00};

Pixels pixels_of(IDL_VPTR v) {
  const std::uint16_t* data = vokip_host::data_as<std::uint16_t>(v);
  return Pixels(data, data + vokip_host::count(v));
}

class UnpckShell : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    vokip_host::reset(GetParam());
    ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
    vokip_host::clear_printed();
  }
  static bool unpck(IDL_VPTR stream, IDL_VPTR image) {
    return vokip_host::call("UNPCK", {stream, image});
  }
};

TEST_P(UnpckShell, DecodesIntoTheCallersArrayBetweenGreetingAndGoodbye) {
  IDL_VPTR image = vokip_host::make_array(IDL_TYP_UINT, {2, 2});
  ASSERT_TRUE(unpck(vokip_host::make_bytes(kFourPixels), image));
  EXPECT_EQ(pixels_of(image), (Pixels{10, 12, 9, 11}));
  EXPECT_EQ(vokip_host::printed(), (Lines{kGreeting, kGoodbye}));
}

TEST_P(UnpckShell, WidthIsTheFirstDimension) {
  const Pixels original = test_images::rings(37, 23, 1.0, 41);
  const std::vector<std::uint8_t> stream = pack_image(original.data(), 37 * 23, 37);
  IDL_VPTR right = vokip_host::make_array(IDL_TYP_UINT, {37, 23});
  IDL_VPTR transposed = vokip_host::make_array(IDL_TYP_UINT, {23, 37});
  ASSERT_TRUE(unpck(vokip_host::make_bytes(stream), right));
  ASSERT_TRUE(unpck(vokip_host::make_bytes(stream), transposed));
  EXPECT_EQ(pixels_of(right), original);
  EXPECT_NE(pixels_of(transposed), original);
}

TEST_P(UnpckShell, NumericStreamArraysAreConvertedToBytes) {
  const std::vector<double> values = {0x92, 0x12, 0x3D, 0x00};
  for (int type : {IDL_TYP_INT, IDL_TYP_FLOAT}) {
    SCOPED_TRACE(type);
    IDL_VPTR image = vokip_host::make_array(IDL_TYP_UINT, {2, 2});
    ASSERT_TRUE(unpck(vokip_host::make_array_from(type, values), image));
    EXPECT_EQ(pixels_of(image), (Pixels{10, 12, 9, 11}));
  }
}

TEST_P(UnpckShell, OutputOfAnotherTypeIsLeftAloneWithOneLineSaying) {
  for (int type : {IDL_TYP_INT, IDL_TYP_LONG, IDL_TYP_DOUBLE}) {
    SCOPED_TRACE(type);
    vokip_host::clear_printed();
    IDL_VPTR image = vokip_host::make_array_from(type, {7, 8, 9, 10}, {2, 2});
    ASSERT_TRUE(unpck(vokip_host::make_bytes(kFourPixels), image));
    EXPECT_EQ(vokip_host::values(image), (std::vector<double>{7, 8, 9, 10}));
    EXPECT_EQ(vokip_host::printed(), (Lines{kGreeting, kOutType, kGoodbye}));
  }
}

TEST_P(UnpckShell, TruncatedStreamSaysSoBeforeGoodbye) {
  IDL_VPTR image = vokip_host::make_array_from(IDL_TYP_UINT, {5, 5, 5, 5}, {2, 2});
  const std::vector<std::uint8_t> three_bytes(kFourPixels.begin(), kFourPixels.begin() + 3);
  ASSERT_TRUE(unpck(vokip_host::make_bytes(three_bytes), image));
  EXPECT_EQ(pixels_of(image), (Pixels{10, 12, 9, 5}));
  EXPECT_EQ(vokip_host::printed(), (Lines{kGreeting, kTruncated, kGoodbye}));
}

TEST_P(UnpckShell, UintScalarOutputGetsOnePixel) {
  IDL_VPTR pixel = vokip_host::make_scalar(IDL_TYP_UINT, 3);
  ASSERT_TRUE(unpck(vokip_host::make_bytes(kFourPixels), pixel));
  EXPECT_EQ(*vokip_host::data_as<std::uint16_t>(pixel), 10);
  EXPECT_EQ(vokip_host::printed(), (Lines{kGreeting, kGoodbye}));
}

INSTANTIATE_TEST_SUITE_P(BothHosts, UnpckShell, ::testing::Values(Mode::idl, Mode::open),
                         [](const testing::TestParamInfo<Mode>& info) {
                           return info.param == Mode::idl ? std::string("idl")
                                                          : std::string("open");
                         });

// Every call above, one after another, as one host session.
Lines session_lines(Mode mode) {
  vokip_host::reset(mode);
  if (!vokip_host::load_module(VOKIP_MODULE_DIR)) return {"module not loaded"};
  vokip_host::clear_printed();
  const std::vector<std::uint8_t> three_bytes(kFourPixels.begin(), kFourPixels.begin() + 3);
  vokip_host::call(
      "UNPCK", {vokip_host::make_bytes(kFourPixels), vokip_host::make_array(IDL_TYP_UINT, {2, 2})});
  vokip_host::call(
      "UNPCK", {vokip_host::make_bytes(three_bytes), vokip_host::make_array(IDL_TYP_UINT, {2, 2})});
  vokip_host::call(
      "UNPCK", {vokip_host::make_bytes(kFourPixels), vokip_host::make_array(IDL_TYP_LONG, {2, 2})});
  return vokip_host::printed();
}

TEST(UnpckShellHosts, BothHostsPrintTheSameLines) {
  const Lines idl = session_lines(Mode::idl);
  const Lines open = session_lines(Mode::open);
  EXPECT_EQ(idl, open);
  EXPECT_EQ(idl, (Lines{kGreeting, kGoodbye, kGreeting, kTruncated, kGoodbye, kGreeting, kOutType,
                        kGoodbye}));
}

}  // namespace
