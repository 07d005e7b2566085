// The command line: every option's value, the forms it takes, the mistakes
// it refuses, the help text, masks, and where outputs go.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reduce/batch.h"
#include "reduce/mask_file.h"
#include "reduce/options.h"
#include "reduce_test_files.h"

namespace {

ParsedOptions parse(std::vector<std::string> args) {
  return parse_options(args);
}

TEST(Options, EveryValueLandsInTheRequest) {
  const ParsedOptions p = parse({"a.mar1200",
                                 "--distance",
                                 "250.5",
                                 "--center=1725.5,-3",
                                 "--pixel-size",
                                 "100,150",
                                 "--tilt",
                                 "-0.4",
                                 "--tilt-direction",
                                 "95",
                                 "--wavelength",
                                 "0.71",
                                 "--unit",
                                 "q",
                                 "--bin-width",
                                 "0.01",
                                 "--range",
                                 "0.5:",
                                 "--median",
                                 "--azimuth",
                                 "-45:45",
                                 "--mask",
                                 "m.pgm",
                                 "-o",
                                 "out",
                                 "--all",
                                 "--module-dir",
                                 "/m",
                                 "--times",
                                 "-q",
                                 "-v",
                                 "b.mar3450"});
  ASSERT_EQ(p.outcome, OptionsOutcome::run) << p.error;
  const Options& o = p.options;
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.mar1200", "b.mar3450"}));
  const GeometryOverrides& g = o.request.geometry;
  EXPECT_EQ(*g.distance_mm, 250.5);
  EXPECT_EQ(*g.center_x_px, 1725.5);
  EXPECT_EQ(*g.center_y_px, -3);
  EXPECT_EQ(*g.pixel_x_um, 100);
  EXPECT_EQ(*g.pixel_y_um, 150);
  EXPECT_EQ(*g.tilt_deg, -0.4);
  EXPECT_EQ(*g.tilt_direction_deg, 95);
  EXPECT_EQ(*g.wavelength_angstrom, 0.71);
  EXPECT_EQ(o.request.axis, Axis::q);
  EXPECT_EQ(*o.request.bins.width, 0.01);
  EXPECT_EQ(*o.request.bins.low, 0.5);
  EXPECT_FALSE(o.request.bins.high.has_value());
  EXPECT_EQ(o.request.statistic, Statistic::median);
  EXPECT_EQ(o.request.sector->from_deg, -45);
  EXPECT_EQ(o.request.sector->to_deg, 45);
  EXPECT_EQ(o.mask_path, "m.pgm");
  EXPECT_EQ(o.output_dir, "out");
  EXPECT_TRUE(o.write_chi && o.write_csv && o.write_svg);
  EXPECT_EQ(o.request.module_dir, "/m");
  EXPECT_TRUE(o.show_times && o.quiet && o.request.echo_module_messages);
}

TEST(Options, DefaultsAndSquarePixels) {
  const ParsedOptions p = parse({"--pixel-size=150", "--bins", "500", "x.mar2300", "--svg"});
  ASSERT_EQ(p.outcome, OptionsOutcome::run) << p.error;
  EXPECT_EQ(*p.options.request.geometry.pixel_x_um, 150);
  EXPECT_EQ(*p.options.request.geometry.pixel_y_um, 150);
  EXPECT_EQ(*p.options.request.bins.count, 500);
  EXPECT_EQ(p.options.request.axis, Axis::two_theta);
  EXPECT_EQ(p.options.request.statistic, Statistic::mean);
  EXPECT_TRUE(p.options.write_svg);
  EXPECT_FALSE(p.options.write_chi || p.options.write_csv);
  // After "--" everything is a file, even what looks like an option.
  const ParsedOptions files = parse({"--", "--median", "-o"});
  EXPECT_EQ(files.options.inputs, (std::vector<std::string>{"--median", "-o"}));
}

TEST(Options, MistakesAreRefusedWithTheReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no image files given"},
      {{"a", "--frobnicate"}, "unknown option --frobnicate"},
      {{"a", "-x"}, "unknown option -x"},
      {{"a", "--distance"}, "option --distance needs a distance in mm"},
      {{"a", "--distance", "far"}, "needs a distance in mm, not 'far'"},
      {{"a", "--distance", "inf"}, "not 'inf'"},
      {{"a", "--center", "600"}, "needs X,Y in pixels"},
      {{"a", "--bins", "2.5"}, "a whole number of bins"},
      {{"a", "--bins", "0"}, "a whole number of bins"},
      {{"a", "--bin-width", "-1"}, "a positive width"},
      {{"a", "--bins", "10", "--bin-width", "0.1"}, "either --bins or --bin-width"},
      {{"a", "--range", "5:2"}, "--range needs LOW below HIGH"},
      {{"a", "--range", "5"}, "LOW:HIGH"},
      {{"a", "--unit", "d"}, "2theta or q"},
      {{"a", "--azimuth", "90:10"}, "FROM below TO"},
      {{"a", "--median=yes"}, "--median takes no value"},
  };
  for (const auto& [args, message] : cases) {
    const ParsedOptions p = parse(args);
    EXPECT_EQ(p.outcome, OptionsOutcome::error) << message;
    EXPECT_NE(p.error.find(message), std::string::npos) << p.error;
  }
}

TEST(Options, HelpDocumentsEveryOptionWithAnExample) {
  EXPECT_EQ(parse({"a", "--help"}).outcome, OptionsOutcome::help);
  EXPECT_EQ(parse({"-h"}).outcome, OptionsOutcome::help);
  EXPECT_EQ(parse({"--version"}).outcome, OptionsOutcome::version);
  const std::string help = help_text();
  for (const std::string& name : option_names()) {
    EXPECT_NE(help.find("--" + name), std::string::npos) << name;
  }
  EXPECT_NE(help.find("Examples:"), std::string::npos);
  EXPECT_NE(help.find("vokip-reduce samples/rings.mar1200"), std::string::npos);
  EXPECT_NE(help.find("Exit status"), std::string::npos);
}

TEST(Options, OutputsGoBesideTheImageOrIntoTheFolder) {
  EXPECT_EQ(output_path("data/run1.mar2300", "", ".xy"), "data/run1.xy");
  EXPECT_EQ(output_path("run1.mar2300", "", ".chi"), "run1.chi");
  EXPECT_EQ(output_path("data/run1.mar2300", "out", ".svg"), "out/run1.svg");
  EXPECT_EQ(output_path("data/run1.mar2300", "out/", ".csv"), "out/run1.csv");
  EXPECT_EQ(output_path("a.b/noext", "", ".xy"), "a.b/noext.xy");
  EXPECT_EQ(output_path(".hidden", "", ".xy"), ".hidden.xy");
}

TEST(Options, QuotedPatternsExpandAndUnmatchedOnesAreReported) {
  TempDir dir;
  write_bytes(dir.file("b.mar1200"), {1});
  write_bytes(dir.file("a.mar1200"), {1});
  write_bytes(dir.file("c.txt"), {1});
  std::vector<std::string> unmatched;
  const std::vector<std::string> files = expand_inputs(
      {dir.file("*.mar1200"), dir.file("c.txt"), dir.file("*.mar3450"), dir.file("none")},
      &unmatched);
  EXPECT_EQ(files, (std::vector<std::string>{dir.file("a.mar1200"), dir.file("b.mar1200"),
                                             dir.file("c.txt"), dir.file("none")}));
  EXPECT_EQ(unmatched, (std::vector<std::string>{dir.file("*.mar3450")}));
}

TEST(MaskFile, BinaryAndTextPgmGiveTheSameMask) {
  std::string binary = "P5\n# beam stop\n3 2\n255\n";
  binary += std::string("\0\xff\0\0\0\x01", 6);
  Mask a, b;
  std::string error;
  ASSERT_TRUE(parse_mask(std::vector<std::uint8_t>(binary.begin(), binary.end()), &a, &error))
      << error;
  const std::string text = "P2 3 2 15\n0 15 0\n0 0 1\n";
  ASSERT_TRUE(parse_mask(std::vector<std::uint8_t>(text.begin(), text.end()), &b, &error)) << error;
  EXPECT_EQ(a.width, 3);
  EXPECT_EQ(a.height, 2);
  EXPECT_EQ(a.excluded, (std::vector<std::uint8_t>{0, 1, 0, 0, 0, 1}));
  EXPECT_EQ(b.excluded, a.excluded);

  std::string wide = "P5 2 1 65535\n";
  wide += std::string("\0\0\x01\0", 4);
  ASSERT_TRUE(parse_mask(std::vector<std::uint8_t>(wide.begin(), wide.end()), &a, &error)) << error;
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
    Mask m;
    std::string error;
    EXPECT_FALSE(parse_mask(std::vector<std::uint8_t>(content.begin(), content.end()), &m, &error));
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

}  // namespace
