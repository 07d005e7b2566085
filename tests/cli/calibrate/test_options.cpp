// vokip-calibrate's command line: every option's value, the mistakes it
// refuses, the help text, and the vokip-reduce options of a fitted geometry
// read back by vokip-reduce's own parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/calibrate/options.h"
#include "cli/calibrate/run.h"
#include "cli/reduce/options.h"

namespace vokip {
namespace {

TEST(CalibrateOptions, EveryValueLandsWhereItBelongs) {
  const ParsedCalibrateOptions p = parse_calibrate_options({"lab6.mar3450",
                                                            "--calibrant",
                                                            "LaB6",
                                                            "--distance",
                                                            "250.5",
                                                            "--center=1725.5,1719",
                                                            "--pixel-size",
                                                            "100",
                                                            "--tilt",
                                                            "0.4",
                                                            "--tilt-direction",
                                                            "95",
                                                            "--wavelength",
                                                            "0.71",
                                                            "--poni",
                                                            "start.poni",
                                                            "--mask",
                                                            "m.tif",
                                                            "--refine-wavelength",
                                                            "--max-iterations",
                                                            "50",
                                                            "--png",
                                                            "fit.png",
                                                            "--write-poni",
                                                            "fit.poni",
                                                            "--poni-version",
                                                            "2.1",
                                                            "--force"});
  ASSERT_EQ(p.outcome, OptionsOutcome::run) << p.error;
  const CalibrateOptions& o = p.options;
  EXPECT_EQ(o.image, "lab6.mar3450");
  EXPECT_EQ(o.calibrant, "LaB6");
  EXPECT_EQ(*o.start.distance_mm, 250.5);
  EXPECT_EQ(*o.start.center_x_px, 1725.5);
  EXPECT_EQ(*o.start.center_y_px, 1719);
  EXPECT_EQ(*o.start.pixel_x_um, 100);
  EXPECT_EQ(*o.start.pixel_y_um, 100);
  EXPECT_EQ(*o.start.tilt_deg, 0.4);
  EXPECT_EQ(*o.start.tilt_direction_deg, 95);
  EXPECT_EQ(*o.start.wavelength_angstrom, 0.71);
  EXPECT_EQ(o.poni_path, "start.poni");
  EXPECT_EQ(o.mask_path, "m.tif");
  EXPECT_TRUE(o.refine_wavelength);
  EXPECT_EQ(o.max_iterations, 50);
  EXPECT_EQ(o.png_path, "fit.png");
  EXPECT_EQ(o.write_poni_path, "fit.poni");
  EXPECT_EQ(o.poni_version, "2.1");
  EXPECT_TRUE(o.force);

  const ParsedCalibrateOptions file = parse_calibrate_options({"a", "--calibrant-file", "c.D"});
  ASSERT_EQ(file.outcome, OptionsOutcome::run);
  EXPECT_EQ(file.options.calibrant_file, "c.D");
  EXPECT_FALSE(file.options.refine_wavelength);
  EXPECT_EQ(file.options.max_iterations, 200);
  EXPECT_EQ(file.options.poni_version, "2");
  EXPECT_FALSE(file.options.force);
}

TEST(CalibrateOptions, MistakesAreRefusedWithWhatIsExpected) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no image given"},
      {{"a"}, "give the calibrant: --calibrant NAME or --calibrant-file FILE"},
      {{"a", "--calibrant", "Si", "--calibrant-file", "c.D"}, "one of them"},
      {{"a", "--calibrant", "Si", "--distance", "far"}, "--distance: needs a distance in mm"},
      {{"a", "--calibrant", "Si", "--center", "3"}, "--center: needs X,Y in pixels"},
      {{"a", "--calibrant", "Si", "--max-iterations", "0"}, "--max-iterations: needs a whole"},
      {{"a", "--calibrant", "Si", "--poni-version", "3"}, "--poni-version: needs 2 or 2.1"},
      {{"a", "--calibrant", "Si", "--fast"}, "--fast"},
  };
  for (const auto& [args, message] : cases) {
    const ParsedCalibrateOptions p = parse_calibrate_options(args);
    EXPECT_EQ(p.outcome, OptionsOutcome::error) << message;
    EXPECT_NE(p.error.find(message), std::string::npos) << p.error;
  }
  EXPECT_EQ(parse_calibrate_options({"-h"}).outcome, OptionsOutcome::help);
  EXPECT_EQ(parse_calibrate_options({"--version"}).outcome, OptionsOutcome::version);
  const std::string help = calibrate_help_text();
  for (const char* name :
       {"--calibrant", "--calibrant-file", "--poni", "--distance", "--center", "--pixel-size",
        "--tilt", "--tilt-direction", "--wavelength", "--mask", "--refine-wavelength",
        "--max-iterations", "--write-poni", "--force", "--poni-version", "--png",
        "LaB6, CeO2, Si, AgBh", "Examples:", "Exit status"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
  }
}

TEST(CalibrateOptions, ReduceOptionsGiveVokipReduceTheGeometry) {
  Geometry g;
  g.distance_mm = 249.98765432109;
  g.center_x_px = 1725.123456789;
  g.center_y_px = 1719.98765;
  g.pixel_x_um = 100;
  g.pixel_y_um = 150;
  g.tilt_deg = 0.012345678901;
  g.tilt_direction_deg = 301.23456789;
  g.wavelength_angstrom = 0.7093;
  std::vector<std::string> args = {"x.mar3450"};
  const std::string line = reduce_options_of(g);
  for (std::size_t at = 0, next; at < line.size(); at = next + 1) {
    next = line.find(' ', at);
    if (next == std::string::npos) next = line.size();
    args.push_back(line.substr(at, next - at));
  }
  const ParsedOptions p = parse_options(args);
  ASSERT_EQ(p.outcome, OptionsOutcome::run) << p.error << " in " << line;
  const GeometryOverrides& o = p.options.request.geometry;
  EXPECT_NEAR(*o.distance_mm, g.distance_mm, 1e-9 * g.distance_mm);
  EXPECT_NEAR(*o.center_x_px, g.center_x_px, 1e-9 * g.center_x_px);
  EXPECT_NEAR(*o.center_y_px, g.center_y_px, 1e-9 * g.center_y_px);
  EXPECT_EQ(*o.pixel_x_um, 100);
  EXPECT_EQ(*o.pixel_y_um, 150);
  EXPECT_NEAR(*o.tilt_deg, g.tilt_deg, 1e-9 * g.tilt_deg);
  EXPECT_NEAR(*o.tilt_direction_deg, g.tilt_direction_deg, 1e-9 * g.tilt_direction_deg);
  EXPECT_EQ(*o.wavelength_angstrom, 0.7093);
}

}  // namespace
}  // namespace vokip
