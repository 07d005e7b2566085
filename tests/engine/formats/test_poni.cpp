// .poni files: the versions pyFAI writes read to the same geometry, every
// kind of bad file refused with its reason, the geometry written and read
// back, and read by pyFAI itself when it is installed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "engine/base/error.h"
#include "engine/formats/poni.h"
#include "support/run_command.h"
#include "support/test_files.h"

namespace vokip {
namespace {

const char kVersion21[] = R"(# Nota: C-Order, 1 refers to the Y axis, 2 to the X axis
# Calibration done at Tue Dec  1 10:00:00 2026
poni_version: 2.1
Detector: Detector
Detector_config: {"pixel1": 0.00015, "pixel2": 0.0001, "max_shape": [2300, 2300], "orientation": 3}
Distance: 0.2015
Poni1: 0.17251
Poni2: 0.11749
Rot1: -0.012
Rot2: 0.0034
Rot3: 1.2e-05
Wavelength: 7.1073e-11
)";

const char kVersion2[] = R"(poni_version: 2
Detector: Mar345
Detector_config: {"pixel1": 0.00015, "pixel2": 0.0001, "max_shape": [2300, 2300]}
Distance: 0.2015
Poni1: 0.17251
Poni2: 0.11749
Rot1: -0.012
Rot2: 0.0034
Rot3: 1.2e-05
Wavelength: 7.1073e-11
)";

const char kVersion1[] = R"(# an older file
PixelSize1: 0.00015
PixelSize2: 0.0001
Distance: 0.2015
Poni1: 0.17251
Poni2: 0.11749
Rot1: -0.012
Rot2: 0.0034
Rot3: 1.2e-05
Wavelength: 7.1073e-11
)";

std::string error_of(const std::string& text) {
  try {
    parse_poni(text);
  } catch (const Error& e) {
    return e.what();
  }
  return "";
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

TEST(Poni, EveryVersionReadsToTheSameGeometry) {
  for (const char* text : {kVersion21, kVersion2, kVersion1}) {
    const PoniGeometry p = parse_poni(text);
    EXPECT_EQ(p.distance_m, 0.2015);
    EXPECT_EQ(p.poni1_m, 0.17251);
    EXPECT_EQ(p.poni2_m, 0.11749);
    EXPECT_EQ(p.rot1_rad, -0.012);
    EXPECT_EQ(p.rot2_rad, 0.0034);
    EXPECT_EQ(p.rot3_rad, 1.2e-05);
    EXPECT_EQ(p.pixel1_m, 0.00015);
    EXPECT_EQ(p.pixel2_m, 0.0001);
    EXPECT_EQ(*p.wavelength_m, 7.1073e-11);
  }
  // Keys in any case; no wavelength is no wavelength.
  // The detector's size, when the file gives it.
  EXPECT_EQ(parse_poni(kVersion21).rows, 2300);
  EXPECT_EQ(parse_poni(replaced(kVersion21, "[2300, 2300]", "[3450, 3000]")).columns, 3000);
  EXPECT_EQ(parse_poni(kVersion1).rows, 0);
  const PoniGeometry lower = parse_poni(
      replaced(replaced(kVersion1, "Distance", "distance"), "Wavelength: 7.1073e-11\n", ""));
  EXPECT_EQ(lower.distance_m, 0.2015);
  EXPECT_FALSE(lower.wavelength_m.has_value());
}

TEST(Poni, BadFilesAreRefusedWithTheirReason) {
  EXPECT_EQ(error_of(replaced(kVersion2, "Poni1: 0.17251\n", "")), "the .poni has no Poni1");
  EXPECT_EQ(error_of(replaced(kVersion2, "Rot3: 1.2e-05\n", "")), "the .poni has no Rot3");
  EXPECT_EQ(error_of(replaced(kVersion2, "0.2015", "0.2o15")),
            "the .poni's Distance '0.2o15' is not a number");
  EXPECT_EQ(error_of(replaced(kVersion21, "\"orientation\": 3", "\"orientation\": 2")),
            "the .poni's detector orientation is 2; only the default orientation 3 is read");
  EXPECT_EQ(error_of(replaced(kVersion2, "poni_version: 2", "poni_version: 3")),
            "poni_version 3 is not one this program reads (1, 2 or 2.1)");
  EXPECT_NE(error_of(replaced(kVersion2, R"({"pixel1": 0.00015, "pixel2": 0.0001, )", "{"))
                .find("no pixel size"),
            std::string::npos);
  EXPECT_NE(error_of(replaced(kVersion2, "{\"pixel1\"", "[\"pixel1\"")).find("not a JSON object"),
            std::string::npos);
  EXPECT_NE(error_of(replaced(kVersion2, "Distance: 0.2015", "Distance 0.2015")).find("key: value"),
            std::string::npos);
  EXPECT_EQ(error_of(replaced(kVersion2, "Distance: 0.2015", "Distance: -0.2")),
            "the .poni's Distance and pixel sizes must be positive");
  EXPECT_EQ(error_of(replaced(kVersion2, "[2300, 2300]", "[2300]")),
            "the .poni's Detector_config max_shape [2300] is not two sizes in pixels");
  EXPECT_EQ(error_of(replaced(kVersion2, "[2300, 2300]", "[2300, 0.5]")),
            "the .poni's Detector_config max_shape [2300,0.5] is not two sizes in pixels");
  // Rotations that turn the plate away from the sample have no plate geometry.
  PoniGeometry away = parse_poni(kVersion2);
  away.rot1_rad = 2;  // and degrees taken for radians
  try {
    from_poni(away);
    ADD_FAILURE() << "Rot1 = 2 taken";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(),
                 "Rot1 = 2 rad in the .poni is a quarter turn or more: .poni angles "
                 "are in radians");
  }
}

TEST(Poni, WrittenGeometryReadsBackTheSame) {
  const PoniGeometry p = parse_poni(kVersion21);
  for (const char* version : {"2.1", "2"}) {
    const std::string text = format_poni(p, 2300, 2300, "written by a test", version);
    EXPECT_NE(text.find(std::string("poni_version: ") + version + "\n"), std::string::npos);
    EXPECT_EQ(text.find("orientation") != std::string::npos, std::string(version) == "2.1");
    const PoniGeometry back = parse_poni(text);
    EXPECT_EQ(back.distance_m, p.distance_m);
    EXPECT_EQ(back.poni1_m, p.poni1_m);
    EXPECT_EQ(back.poni2_m, p.poni2_m);
    EXPECT_EQ(back.rot1_rad, p.rot1_rad);
    EXPECT_EQ(back.rot2_rad, p.rot2_rad);
    EXPECT_EQ(back.rot3_rad, p.rot3_rad);
    EXPECT_EQ(back.pixel1_m, p.pixel1_m);
    EXPECT_EQ(back.pixel2_m, p.pixel2_m);
    EXPECT_EQ(*back.wavelength_m, *p.wavelength_m);
  }
}

// pyFAI itself reads the version-2 file (its releases before 2023 know no
// 2.1) to the same geometry, and its FIT2D-style view of it is ours.
TEST(Poni, PyfaiReadsTheWrittenGeometry) {
  if (std::system("/usr/bin/python3 -c 'import pyFAI' >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "pyFAI is not installed";
  }
  Geometry g;
  g.distance_mm = 183.5;
  g.center_x_px = 1702.25;
  g.center_y_px = 1744.5;
  g.pixel_x_um = g.pixel_y_um = 100;
  g.tilt_deg = 2.75;
  g.tilt_direction_deg = -63;
  g.wavelength_angstrom = 0.7107;
  TempDir dir;
  const std::string path = dir.file("geometry.poni");
  write_bytes(path, [&] {
    const std::string text = format_poni(to_poni(g), 3450, 3450, "test", "2");
    return std::vector<std::uint8_t>(text.begin(), text.end());
  }());
  const std::string out =
      run_command("/usr/bin/python3 -W ignore -c \"import pyFAI; f = pyFAI.load('" + path +
                  "').getFit2D(); print(f['directDist'], f['centerX'], f['centerY'], f['tilt'], "
                  "f['tiltPlanRotation'])\" 2>/dev/null");
  std::istringstream in(out);
  double distance = 0, cx = 0, cy = 0, tilt = 0, direction = 0;
  ASSERT_TRUE(in >> distance >> cx >> cy >> tilt >> direction) << out;
  EXPECT_NEAR(distance, 183.5, 1e-9);
  EXPECT_NEAR(cx, 1702.25, 1e-7);
  EXPECT_NEAR(cy, 1744.5, 1e-7);
  EXPECT_NEAR(tilt, 2.75, 1e-9);
  EXPECT_NEAR(direction, -63, 1e-7);
}

}  // namespace
}  // namespace vokip
