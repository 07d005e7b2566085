// DISTORTIMAGEPLATE and AZIMUTHIMAGEPLATE called through the stand-in host,
// as the host's own programs call them, in both host modes.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

using vokip_host::Mode;

const std::string kDistortGreet = "% DISTORTIMAGEPLATE: Calculating image plate distortion.";
const std::string kAzimGreet = "% AZIMUTHIMAGEPLATE: Calculating image plate azimuths.";
const std::string kDistortOutType =
    "% DISTORTIMAGEPLATE: Output argument is not an array of the required type; nothing was "
    "computed.";
const std::string kAzimOutType =
    "% AZIMUTHIMAGEPLATE: Output argument is not an array of the required type; nothing was "
    "computed.";
const std::string kDistortShort =
    "% DISTORTIMAGEPLATE: Input arrays are shorter than required; elements without input were "
    "not computed.";
const std::string kAzimShort =
    "% AZIMUTHIMAGEPLATE: Input arrays are shorter than required; elements without input were "
    "not computed.";

using Lines = std::vector<std::string>;

std::vector<double> doubles(IDL_VPTR v) {
  const double* d = vokip_host::data_as<double>(v);
  return {d, d + vokip_host::count(v)};
}

void expect_angles(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (std::isnan(want[i])) {
      EXPECT_TRUE(std::isnan(got[i])) << "element " << i << " is " << got[i];
    } else {
      EXPECT_NEAR(got[i], want[i], 1e-12) << "element " << i;
    }
  }
}

class GeometryShells : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    vokip_host::reset(GetParam());
    ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  }

  static IDL_VPTR dbl(double v) { return vokip_host::make_scalar(IDL_TYP_DOUBLE, v); }
  static IDL_VPTR dbls(const std::vector<double>& v, std::vector<IDL_MEMINT> dims = {}) {
    return vokip_host::make_array_from(IDL_TYP_DOUBLE, v, dims);
  }

  // Calls a procedure and returns the lines it printed.
  static Lines call(const std::string& name, const std::vector<IDL_VPTR>& args) {
    vokip_host::clear_printed();
    EXPECT_TRUE(vokip_host::call(name, args));
    return vokip_host::printed();
  }
};

TEST_P(GeometryShells, DistortFillsTheCallersGridAndGreetsOnce) {
  // Distance 0.1, tilt 30 about the y axis: (100, 0) → 30, (−100, 0) → 60,
  // (0, ±100) → 45, and the origin → 0.
  IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {3, 2});
  const Lines lines = call("DISTORTIMAGEPLATE",
                           {dbl(0.1), dbl(30), dbl(0), dbls({100, -100, 0}), dbls({0, 100}), out});
  EXPECT_EQ(lines, Lines{kDistortGreet});
  // (±100, 100): 100 along the tilt axis and 100·cos 30 across it sideways,
  // 100 ± 100·sin 30 along the beam.
  const double sideways = std::sqrt(100.0 * 100 + 7500), to_degrees = 45 / std::atan(1.0);
  expect_angles(doubles(out), {30, 60, 0, std::atan(sideways / 150) * to_degrees,
                               std::atan(sideways / 50) * to_degrees, 45});
}

TEST_P(GeometryShells, AzimuthFillsTheCallersGridAndGreetsOnce) {
  // y by row, x by column.
  IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {3, 2});
  const Lines lines = call("AZIMUTHIMAGEPLATE", {dbls({1, -1}), dbls({1, -1, 0}), out});
  EXPECT_EQ(lines, Lines{kAzimGreet});
  expect_angles(doubles(out), {45, 135, 45, 315, 225, 315});
}

TEST_P(GeometryShells, WrongOutputTypeGreetsThenRefusesAndKeepsTheContents) {
  IDL_VPTR out = vokip_host::make_array_from(IDL_TYP_FLOAT, {5, 6, 7});
  EXPECT_EQ(call("DISTORTIMAGEPLATE", {dbl(0.1), dbl(30), dbl(0), dbls({1, 2, 3}), dbls({0}), out}),
            (Lines{kDistortGreet, kDistortOutType}));
  EXPECT_EQ(vokip_host::values(out), (std::vector<double>{5, 6, 7}));

  EXPECT_EQ(call("AZIMUTHIMAGEPLATE", {dbls({1}), dbls({1, 2, 3}), out}),
            (Lines{kAzimGreet, kAzimOutType}));
  EXPECT_EQ(vokip_host::values(out), (std::vector<double>{5, 6, 7}));
}

TEST_P(GeometryShells, ShortCoordinatesGiveNaNAndOneNotice) {
  const double nan = std::nan("");
  {  // Grid of 3 x 2 with two x values and one y value.
    IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {3, 2});
    EXPECT_EQ(
        call("DISTORTIMAGEPLATE", {dbl(0.1), dbl(30), dbl(0), dbls({100, -100}), dbls({0}), out}),
        (Lines{kDistortGreet, kDistortShort}));
    expect_angles(doubles(out), {30, 60, nan, nan, nan, nan});
  }
  {  // Element-wise (three y for three outputs) with two x values.
    IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {3});
    EXPECT_EQ(call("AZIMUTHIMAGEPLATE", {dbls({1, 1, 1}), dbls({1, -1}), out}),
              (Lines{kAzimGreet, kAzimShort}));
    expect_angles(doubles(out), {45, 135, nan});
  }
}

TEST_P(GeometryShells, ScalarsOfEveryTypeAndFirstElementsGiveTheSameMap) {
  // Distance 1 (D = 1000), tilt 30 about the x axis (direction 90).
  const std::vector<double> want = {45, 30, 60, 0};
  IDL_VPTR x = dbls({1000, 0, 0, 0}), y = dbls({0, 1000, -1000, 0});
  for (int type : {IDL_TYP_INT, IDL_TYP_LONG, IDL_TYP_FLOAT, IDL_TYP_DOUBLE}) {
    IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {4});
    call("DISTORTIMAGEPLATE", {vokip_host::make_scalar(type, 1), vokip_host::make_scalar(type, 30),
                               vokip_host::make_scalar(type, 90), x, y, out});
    SCOPED_TRACE("scalars of type " + std::to_string(type));
    expect_angles(doubles(out), want);

    IDL_VPTR out_from_arrays = vokip_host::make_array(IDL_TYP_DOUBLE, {4});
    call("DISTORTIMAGEPLATE",
         {vokip_host::make_array_from(type, {1, 7}), vokip_host::make_array_from(type, {30, 7}),
          vokip_host::make_array_from(type, {90, 7}), x, y, out_from_arrays});
    expect_angles(doubles(out_from_arrays), want);
  }
}

TEST_P(GeometryShells, CoordinatesOfOtherTypesAreConverted) {
  IDL_VPTR out = vokip_host::make_array(IDL_TYP_DOUBLE, {4});
  call("DISTORTIMAGEPLATE",
       {dbl(1), dbl(30), dbl(90), vokip_host::make_array_from(IDL_TYP_INT, {1000, 0, 0, 0}),
        vokip_host::make_array_from(IDL_TYP_FLOAT, {0, 1000, -1000, 0}), out});
  expect_angles(doubles(out), {45, 30, 60, 0});

  IDL_VPTR azimuths = vokip_host::make_array(IDL_TYP_DOUBLE, {2});
  call("AZIMUTHIMAGEPLATE", {vokip_host::make_array_from(IDL_TYP_LONG, {-1, 0}),
                             vokip_host::make_array_from(IDL_TYP_INT, {-1, 5}), azimuths});
  expect_angles(doubles(azimuths), {225, std::atan(0.2) * 45 / std::atan(1.0)});
}

TEST_P(GeometryShells, AScalarOutputIsOneElement) {
  IDL_VPTR angle = dbl(-1);
  EXPECT_EQ(call("DISTORTIMAGEPLATE", {dbl(0.1), dbl(30), dbl(0), dbl(-100), dbl(0), angle}),
            Lines{kDistortGreet});
  EXPECT_NEAR(*vokip_host::data_as<double>(angle), 60, 1e-12);

  IDL_VPTR azimuth = dbl(-1);
  EXPECT_EQ(call("AZIMUTHIMAGEPLATE", {dbl(-1), dbl(1), azimuth}), Lines{kAzimGreet});
  EXPECT_NEAR(*vokip_host::data_as<double>(azimuth), 315, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(BothHosts, GeometryShells, ::testing::Values(Mode::idl, Mode::open),
                         [](const ::testing::TestParamInfo<Mode>& info) {
                           return info.param == Mode::idl ? std::string("idl")
                                                          : std::string("open");
                         });

// The same calls print the same lines and give the same maps in both hosts.
TEST(GeometryShellsAcrossHosts, PrintedLinesAndMapsAgree) {
  struct Run {
    Lines lines;
    std::vector<double> polar, azimuth;
  };
  auto run = [](Mode mode) {
    vokip_host::reset(mode);
    EXPECT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
    IDL_VPTR x = vokip_host::make_array_from(IDL_TYP_DOUBLE, {-30, 0, 45});
    IDL_VPTR y = vokip_host::make_array_from(IDL_TYP_DOUBLE, {12});
    IDL_VPTR polar = vokip_host::make_array(IDL_TYP_DOUBLE, {3, 2});
    IDL_VPTR azimuth = vokip_host::make_array(IDL_TYP_DOUBLE, {3, 2});
    IDL_VPTR wrong = vokip_host::make_array(IDL_TYP_LONG, {3});
    vokip_host::call("DISTORTIMAGEPLATE", {vokip_host::make_scalar(IDL_TYP_INT, 2),
                                           vokip_host::make_scalar(IDL_TYP_FLOAT, 12.5),
                                           vokip_host::make_scalar(IDL_TYP_LONG, 40), x, y, polar});
    vokip_host::call("AZIMUTHIMAGEPLATE", {y, x, azimuth});
    vokip_host::call("AZIMUTHIMAGEPLATE", {y, x, wrong});
    return Run{vokip_host::printed(), doubles(polar), doubles(azimuth)};
  };
  const Run idl = run(Mode::idl);
  const Run open = run(Mode::open);
  EXPECT_EQ(idl.lines, open.lines);
  EXPECT_EQ(idl.lines, (Lines{kDistortGreet, kDistortShort, kAzimGreet, kAzimShort, kAzimGreet,
                              kAzimOutType}));
  expect_angles(open.polar, idl.polar);
  expect_angles(open.azimuth, idl.azimuth);
  EXPECT_FALSE(std::isnan(idl.polar[2]));
}

}  // namespace
