// The command line: every option's value, the forms it takes, the mistakes
// it refuses, the help text, masks, and where outputs go.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/reduce/batch.h"
#include "cli/reduce/options.h"
#include "engine/base/error.h"
#include "support/test_files.h"

namespace vokip {
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
                                 "--shard",
                                 "2/7",
                                 "--skip-existing",
                                 "--times",
                                 "-q",
                                 "b.mar3450"});
  ASSERT_EQ(p.outcome, OptionsOutcome::run) << p.error;
  const ReduceOptions& o = p.options;
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
  EXPECT_EQ(o.request.unit, Unit::q_inv_angstrom);
  EXPECT_EQ(*o.request.bins.width, 0.01);
  EXPECT_EQ(*o.request.bins.low, 0.5);
  EXPECT_FALSE(o.request.bins.high.has_value());
  EXPECT_EQ(o.request.run.statistic, Statistic::median);
  EXPECT_EQ(o.request.sector->from_deg, -45);
  EXPECT_EQ(o.request.sector->to_deg, 45);
  EXPECT_EQ(o.request.mask_file, "m.pgm");
  EXPECT_EQ(o.output_dir, "out");
  EXPECT_TRUE(o.write_chi && o.write_csv && o.write_svg);
  ASSERT_TRUE(o.shard.has_value());
  EXPECT_EQ(o.shard->index, 1);
  EXPECT_EQ(o.shard->count, 7);
  EXPECT_TRUE(o.skip_existing && o.show_times && o.quiet);
}

TEST(Options, DefaultsAndSquarePixels) {
  const ParsedOptions p = parse({"--pixel-size=150", "--bins", "500", "x.mar2300", "--svg"});
  ASSERT_EQ(p.outcome, OptionsOutcome::run) << p.error;
  EXPECT_EQ(*p.options.request.geometry.pixel_x_um, 150);
  EXPECT_EQ(*p.options.request.geometry.pixel_y_um, 150);
  EXPECT_EQ(*p.options.request.bins.count, 500);
  EXPECT_EQ(p.options.request.unit, Unit::two_theta_deg);
  EXPECT_FALSE(p.options.shard.has_value() || p.options.skip_existing);
  EXPECT_EQ(p.options.request.run.statistic, Statistic::mean);
  EXPECT_TRUE(p.options.write_svg);
  EXPECT_FALSE(p.options.write_chi || p.options.write_csv);
  // After "--" everything is a file, even what looks like an option.
  const ParsedOptions files = parse({"--", "--median", "-o"});
  EXPECT_EQ(files.options.inputs, (std::vector<std::string>{"--median", "-o"}));
}

TEST(Options, MistakesAreRefusedWithTheReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, "no image files given"},
      {{"a", "--frobnicate"}, "--frobnicate"},
      {{"a", "-x"}, "-x"},
      {{"a", "--distance"}, "--distance"},
      {{"a", "--distance", "far"}, "needs a distance in mm, not 'far'"},
      {{"a", "--distance", "inf"}, "not 'inf'"},
      {{"a", "--center", "600"}, "needs X,Y in pixels"},
      {{"a", "--bins", "2.5"}, "a whole number of bins"},
      {{"a", "--bins", "0"}, "the number of bins must be 1 to 10000000 [--bins N]"},
      {{"a", "--bin-width", "-1"}, "the bin width must be a positive number [--bin-width W]"},
      {{"a", "--bins", "10", "--bin-width", "0.1"}, "a number of bins or a bin width, not both"},
      {{"a", "--range", "5:2"}, "low end must lie below its high end [--range LOW:HIGH]"},
      {{"a", "--range", "5"}, "LOW:HIGH"},
      {{"a", "--unit", "d"}, "2th_deg, q_nm^-1, q_A^-1, r_mm or d_A"},
      {{"a", "--azimuth", "90:10"}, "start must lie below its end [--azimuth FROM:TO]"},
      {{"a", "--shard", "0/3"}, "K/N with 1 <= K <= N"},
      {{"a", "--shard", "4/3"}, "K/N with 1 <= K <= N"},
      {{"a", "--shard", "1"}, "K/N with 1 <= K <= N"},
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
  for (const char* name :
       {"--output-dir", "--chi",    "--csv",        "--svg",       "--all",
        "--distance",   "--center", "--pixel-size", "--tilt",      "--tilt-direction",
        "--wavelength", "--unit",   "--bins",       "--bin-width", "--range",
        "--median",     "--mask",   "--azimuth",    "--shard",     "--skip-existing",
        "--times",      "--quiet",  "--help",       "--version"}) {
    EXPECT_NE(help.find(name), std::string::npos) << name;
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

TEST(Shards, EveryFileFallsInExactlyOneShare) {
  std::vector<std::string> files;
  for (int k = 0; k < 23; ++k) files.push_back("f" + std::to_string(100 - 3 * k) + ".mar");
  files.push_back(files[4]);  // named twice: reduced once
  for (long n : {1L, 2L, 3L, 7L, 23L, 30L}) {
    std::vector<std::string> all;
    for (long k = 0; k < n; ++k) {
      const std::vector<std::string> share = shard_of(files, Shard{k, n});
      EXPECT_TRUE(std::is_sorted(share.begin(), share.end()));
      EXPECT_LE(share.size(), static_cast<std::size_t>(23 / n + 1));
      all.insert(all.end(), share.begin(), share.end());
    }
    std::vector<std::string> expected = files;
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
    EXPECT_EQ(all, expected) << n << " shares";
  }
}

TEST(Shards, SlurmArrayTasksTakeTheirShare) {
  struct Env {
    std::vector<std::pair<std::string, std::string>> vars;
  };
  static const Env* current = nullptr;
  auto share = [](const Env& env) {
    current = &env;
    return slurm_array_shard([](const char* name) -> const char* {
      for (const auto& [key, value] : current->vars) {
        if (key == name) return value.c_str();
      }
      return nullptr;
    });
  };
  EXPECT_FALSE(share(Env{}).has_value());
  std::optional<Shard> s = share(Env{{{"SLURM_ARRAY_TASK_ID", "3"},
                                      {"SLURM_ARRAY_TASK_COUNT", "5"},
                                      {"SLURM_ARRAY_TASK_MIN", "1"}}});
  ASSERT_TRUE(s.has_value());
  EXPECT_EQ(s->index, 2);
  EXPECT_EQ(s->count, 5);
  s = share(Env{{{"SLURM_ARRAY_TASK_ID", "0"}, {"SLURM_ARRAY_TASK_COUNT", "4"}}});
  EXPECT_EQ(s->index, 0);
  EXPECT_EQ(s->count, 4);
  // --array=10-18:4 runs tasks 10, 14 and 18.
  s = share(Env{{{"SLURM_ARRAY_TASK_ID", "18"},
                 {"SLURM_ARRAY_TASK_MIN", "10"},
                 {"SLURM_ARRAY_TASK_MAX", "18"},
                 {"SLURM_ARRAY_TASK_STEP", "4"}}});
  EXPECT_EQ(s->index, 2);
  EXPECT_EQ(s->count, 3);
  EXPECT_THROW(share(Env{{{"SLURM_ARRAY_TASK_ID", "7"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}}), Error);
  EXPECT_THROW(share(Env{{{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}}), Error);
  EXPECT_THROW(share(Env{{{"SLURM_ARRAY_TASK_ID", "1"}}}), Error);
}

}  // namespace
}  // namespace vokip
