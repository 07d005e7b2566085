// Calibrants: the built-in ones' reflections against the tabulated lines of
// their reference materials, and lists of d-spacings as files give them.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/calibrate/calibrants.h"
#include "engine/geometry/units.h"
#include "support/test_files.h"

namespace vokip {
namespace {

std::vector<double> first(const Calibrant& c, std::size_t n) {
  return std::vector<double>(c.d_spacings_angstrom.begin(), c.d_spacings_angstrom.begin() + n);
}

void expect_near_each(const std::vector<double>& got, const std::vector<double>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(got[k], want[k], 1e-6) << k;
}

TEST(BuiltinCalibrants, FirstLinesAreTheReferenceMaterials) {
  // LaB6 (primitive): 100 110 111 200 210 211, then 220 (no h^2+k^2+l^2 = 7).
  expect_near_each(first(builtin_calibrant("LaB6"), 7),
                   {4.156826, 2.939320, 2.399945, 2.078413, 1.858989, 1.697017, 1.469660});
  // CeO2 (face-centred): 111 200 220 311 222 400; no 100, 110, 210, 211.
  expect_near_each(first(builtin_calibrant("CeO2"), 6),
                   {3.124418, 2.705825, 1.913308, 1.631674, 1.562209, 1.352913});
  // Si (diamond): 111 220 311 400 331 422; no 200, 222, 420.
  expect_near_each(first(builtin_calibrant("Si"), 6),
                   {3.135693, 1.920212, 1.637562, 1.357795, 1.245998, 1.108635});
  expect_near_each(first(builtin_calibrant("AgBh"), 4), {58.380, 29.190, 19.460, 14.595});
}

TEST(BuiltinCalibrants, ListsRunDownToTheShortestSpacingAskedFor) {
  for (const std::string& name : builtin_calibrant_names()) {
    const Calibrant c = builtin_calibrant(name, 1.0);
    ASSERT_FALSE(c.d_spacings_angstrom.empty()) << name;
    EXPECT_GE(c.d_spacings_angstrom.back(), 1.0) << name;
    for (std::size_t k = 1; k < c.d_spacings_angstrom.size(); ++k) {
      EXPECT_LT(c.d_spacings_angstrom[k], c.d_spacings_angstrom[k - 1]) << name;
    }
  }
  // Si's reflections down to 1 angstrom: N = 3 8 11 16 19 24 27.
  EXPECT_EQ(builtin_calibrant("Si", 1.0).d_spacings_angstrom.size(), 7u);
  EXPECT_EQ(builtin_calibrant("AgBh", 1.0).d_spacings_angstrom.size(), 58u);
}

TEST(BuiltinCalibrants, NamesInAnyCaseAndUnknownOnesListTheKnown) {
  EXPECT_EQ(builtin_calibrant("lab6").name, "LaB6");
  EXPECT_EQ(builtin_calibrant("CEO2").name, "CeO2");
  try {
    builtin_calibrant("quartz");
    FAIL() << "accepted an unknown calibrant";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "unknown calibrant 'quartz'; built in: LaB6, CeO2, Si, AgBh");
    EXPECT_EQ(e.setting(), Setting::calibrant);
  }
}

TEST(CalibrantLists, CommentsColumnsAndOrderAsFilesHaveThem) {
  const Calibrant c = parse_calibrant("mine",
                                      "# Calibrant: something\n"
                                      "# d (A)  # (h k l)  multiplicity\n"
                                      "\n"
                                      "2.5   # (1,1,0) 12\n"
                                      "  4.0\t(1 0 0)\n"
                                      "1.25e0\n"
                                      "4.0\n");
  EXPECT_EQ(c.name, "mine");
  EXPECT_EQ(c.d_spacings_angstrom, (std::vector<double>{4.0, 2.5, 1.25}));

  TempDir dir;
  write_bytes(dir.file("ring.D"), {'3', '.', '5', '\n'});
  const Calibrant read = read_calibrant(dir.file("ring.D"));
  EXPECT_EQ(read.name, "ring");
  EXPECT_EQ(read.d_spacings_angstrom, std::vector<double>{3.5});
}

TEST(CalibrantLists, ListsThatAreNotDSpacingsAreRefused) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"4.0\n2.x\n", "line 2 of the calibrant list: '2.x' is not a d-spacing"},
      {"# d\n\n-1.5\n", "line 3 of the calibrant list: '-1.5' is not a d-spacing"},
      {"0\n", "line 1 of the calibrant list: '0' is not a d-spacing"},
      {"nan\n", "'nan' is not a d-spacing"},
      {"# nothing\n\n", "the calibrant list holds no d-spacing"},
  };
  for (const auto& [text, message] : cases) {
    try {
      parse_calibrant("bad", text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(read_calibrant("/nonexistent/list.D"), Error);
}

TEST(CalibrantLists, TwoThetaOfEveryReflectionTheWavelengthReaches) {
  // 2 asin(lambda / 2d): 0.8 / 20 and 0.8 / 2; d = 0.4 and 0.3 are out of reach.
  EXPECT_NEAR(two_theta_of_d(10, 0.8), 4.584886, 1e-6);
  EXPECT_NEAR(two_theta_of_d(1, 0.8), 47.156357, 1e-6);
  EXPECT_TRUE(std::isnan(two_theta_of_d(0.4, 0.8)));
  EXPECT_TRUE(std::isnan(two_theta_of_d(0.3, 0.8)));
  // d and q of an angle, and back.
  EXPECT_NEAR(d_of_two_theta(two_theta_of_d(1, 0.8), 0.8), 1, 1e-14);
  EXPECT_NEAR(two_theta_of_q(q_of_two_theta(30, 0.7), 0.7), 30, 1e-12);
  EXPECT_NEAR(q_of_two_theta(two_theta_of_d(2, 0.7), 0.7), 3.141592653589793, 1e-14);
}

}  // namespace
}  // namespace vokip
