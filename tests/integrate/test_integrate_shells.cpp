// INTEGRATE and INTEGRATE_MEDIAN called by name through the stand-in host, in
// both host modes. Host arrays are allocated to their exact size, so a read
// or write past an end is caught under AddressSanitizer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "host/host.h"

namespace {

using vokip_host::Mode;

const char kShortLine[] =
    ": Input arrays are shorter than required; elements without input were not computed.";
const char kOutTypeLine[] =
    ": Output argument is not an array of the required type; nothing was computed.";

struct Call {
  IDL_VPTR keys, values, centres, first, second, third;
  std::vector<IDL_VPTR> arguments() const { return {keys, values, centres, first, second, third}; }
};

IDL_VPTR doubles(const std::vector<double>& v) {
  return vokip_host::make_array_from(IDL_TYP_DOUBLE, v);
}

// Bin 0 holds 4, 6, 8; bin 1 holds 5; bin 2 is empty.
Call worked_example(IDL_MEMINT outputs = 3) {
  return {doubles({0.8, 0.9, 1.2, 2.0}),
          doubles({4, 6, 8, 5}),
          doubles({1, 2, 3}),
          vokip_host::make_array(IDL_TYP_DOUBLE, {outputs}),
          vokip_host::make_array(IDL_TYP_DOUBLE, {outputs}),
          vokip_host::make_array(IDL_TYP_DOUBLE, {outputs})};
}

std::vector<double> out(IDL_VPTR v) {
  return vokip_host::values(v);
}

class IntegrateShells : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    vokip_host::reset(GetParam());
    ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  }
};

TEST_P(IntegrateShells, ComputeTheProfilesSilently) {
  const Call mean = worked_example();
  ASSERT_TRUE(vokip_host::call("INTEGRATE", mean.arguments()));
  EXPECT_EQ(out(mean.first)[0], 6.0);
  EXPECT_EQ(out(mean.first)[1], 5.0);
  EXPECT_EQ(out(mean.second)[0], 4.0);
  EXPECT_EQ(out(mean.second)[1], 0.0);
  EXPECT_TRUE(std::signbit(out(mean.second)[2]));
  EXPECT_DOUBLE_EQ(out(mean.third)[0], 8.0 / 6);
  EXPECT_TRUE(std::isnan(out(mean.third)[2]));

  const Call median = worked_example();
  ASSERT_TRUE(vokip_host::call("INTEGRATE_MEDIAN", median.arguments()));
  EXPECT_EQ(out(median.first)[0], 6.0);
  EXPECT_EQ(out(median.first)[1], 5.0);
  EXPECT_DOUBLE_EQ(out(median.second)[0], 8.0 / 3);  // (4 + 0 + 4) / 3
  EXPECT_DOUBLE_EQ(out(median.third)[0], 4.0 / 3);
  for (IDL_VPTR v : {median.first, median.second, median.third}) {
    EXPECT_TRUE(std::isnan(out(v)[2]));
  }
  EXPECT_TRUE(vokip_host::printed().empty());
}

TEST_P(IntegrateShells, ConvertOtherNumericInputs) {
  for (const char* procedure : {"INTEGRATE", "INTEGRATE_MEDIAN"}) {
    const Call reference = worked_example();
    ASSERT_TRUE(vokip_host::call(procedure, reference.arguments()));
    Call converted = worked_example();
    converted.keys = vokip_host::make_array_from(IDL_TYP_FLOAT, {0.75, 0.875, 1.25, 2.0});
    converted.values = vokip_host::make_array_from(IDL_TYP_INT, {4, 6, 8, 5});
    converted.centres = vokip_host::make_array_from(IDL_TYP_LONG, {1, 2, 3});
    ASSERT_TRUE(vokip_host::call(procedure, converted.arguments()));
    for (int k = 0; k < 3; ++k) {
      const std::vector<double> a = out(reference.arguments()[3 + k]);
      const std::vector<double> b = out(converted.arguments()[3 + k]);
      for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(a[i] == b[i] || (std::isnan(a[i]) && std::isnan(b[i])))
            << procedure << " output " << k << " bin " << i;
      }
    }
  }
  EXPECT_TRUE(vokip_host::printed().empty());
}

TEST_P(IntegrateShells, ShortArraysAreNotReadOrWrittenPastTheirEnds) {
  // The key 2.0 has no value: bin 1 is empty.
  Call few_values = worked_example();
  few_values.values = doubles({4, 6, 8});
  ASSERT_TRUE(vokip_host::call("INTEGRATE", few_values.arguments()));
  EXPECT_EQ(out(few_values.first), (std::vector<double>{6, 0, 0}));
  EXPECT_TRUE(std::signbit(out(few_values.second)[1]));
  EXPECT_EQ(vokip_host::printed(),
            std::vector<std::string>{"% INTEGRATE" + std::string(kShortLine)});
  vokip_host::clear_printed();

  // Room for two bins in every output.
  const Call two_bins = worked_example(2);
  ASSERT_TRUE(vokip_host::call("INTEGRATE_MEDIAN", two_bins.arguments()));
  EXPECT_EQ(out(two_bins.first), (std::vector<double>{6, 5}));
  EXPECT_EQ(vokip_host::printed(),
            std::vector<std::string>{"% INTEGRATE_MEDIAN" + std::string(kShortLine)});
  vokip_host::clear_printed();

  // One output short: the others are written only as far as it has room.
  Call one_short = worked_example();
  one_short.second = vokip_host::make_array(IDL_TYP_DOUBLE, {1});
  vokip_host::data_as<double>(one_short.first)[1] = 42;
  ASSERT_TRUE(vokip_host::call("INTEGRATE", one_short.arguments()));
  EXPECT_EQ(out(one_short.first), (std::vector<double>{6, 42, 0}));
  EXPECT_EQ(out(one_short.second), std::vector<double>{4});
  EXPECT_EQ(vokip_host::printed(),
            std::vector<std::string>{"% INTEGRATE" + std::string(kShortLine)});
}

TEST_P(IntegrateShells, WrongOutputTypeComputesNothing) {
  for (const char* procedure : {"INTEGRATE", "INTEGRATE_MEDIAN"}) {
    for (int wrong = 3; wrong <= 5; ++wrong) {
      vokip_host::clear_printed();
      std::vector<IDL_VPTR> args = worked_example().arguments();
      for (int k = 3; k <= 5; ++k) {
        args[k] =
            vokip_host::make_array_from(k == wrong ? IDL_TYP_FLOAT : IDL_TYP_DOUBLE, {7, 7, 7});
      }
      ASSERT_TRUE(vokip_host::call(procedure, args));
      for (int k = 3; k <= 5; ++k) {
        EXPECT_EQ(out(args[k]), (std::vector<double>{7, 7, 7})) << procedure << " " << wrong;
      }
      EXPECT_EQ(vokip_host::printed(),
                std::vector<std::string>{"% " + std::string(procedure) + kOutTypeLine});
    }
  }
}

// Every line a sequence of calls prints, in the given mode.
std::vector<std::string> lines_of_a_session(Mode mode) {
  vokip_host::reset(mode);
  if (!vokip_host::load_module(VOKIP_MODULE_DIR)) return {"not loaded"};
  for (const char* procedure : {"INTEGRATE", "INTEGRATE_MEDIAN"}) {
    vokip_host::call(procedure, worked_example().arguments());
    vokip_host::call(procedure, worked_example(2).arguments());
    std::vector<IDL_VPTR> args = worked_example().arguments();
    args[4] = vokip_host::make_array(IDL_TYP_LONG, {3});
    vokip_host::call(procedure, args);
  }
  return vokip_host::printed();
}

TEST(IntegrateShellLines, AreTheSameInBothHosts) {
  const std::vector<std::string> idl = lines_of_a_session(Mode::idl);
  const std::vector<std::string> expected = {"% INTEGRATE" + std::string(kShortLine),
                                             "% INTEGRATE" + std::string(kOutTypeLine),
                                             "% INTEGRATE_MEDIAN" + std::string(kShortLine),
                                             "% INTEGRATE_MEDIAN" + std::string(kOutTypeLine)};
  EXPECT_EQ(idl, expected);
  EXPECT_EQ(lines_of_a_session(Mode::open), idl);
}

INSTANTIATE_TEST_SUITE_P(BothHosts, IntegrateShells, ::testing::Values(Mode::idl, Mode::open),
                         [](const auto& info) { return info.param == Mode::idl ? "idl" : "open"; });

}  // namespace
