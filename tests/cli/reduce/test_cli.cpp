// vokip-reduce as users run it: files in, profiles out, one error line per
// bad file, the exit codes, patterns, masks, the progress line, shares of a
// batch, skipping what is done, and runs killed in the middle.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/formats/files.h"
#include "engine/formats/run_file.h"
#include "support/mar345_writer.h"
#include "support/test_files.h"
#include "vokip_version.h"

namespace vokip {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

class Cli : public ::testing::Test {
 protected:
  // Runs the program with the arguments; env: assignments put before it.
  Outcome run(const std::string& args, const std::string& env = "") {
    const std::string out = dir_.file("stdout"), err = dir_.file("stderr");
    const std::string command = env + " " + std::string(VOKIP_REDUCE_EXE) + " " + args + " >" +
                                quoted(out) + " 2>" + quoted(err) + " </dev/null";
    const int status = std::system(command.c_str());
    Outcome r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_text(out);
    r.err = read_text(err);
    return r;
  }
  std::string ring_file(const std::string& name, ByteOrder order = ByteOrder::little) {
    const RingPattern pattern = small_rings(160);
    const std::string path = dir_.file(name);
    write_bytes(path, write_mar345(ring_pattern_file(pattern, make_ring_image(pattern), order)));
    return path;
  }
  TempDir dir_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(Cli, ReducesAnImageToEveryFormat) {
  const std::string image = ring_file("rings.mar1200");
  const Outcome r = run(quoted(image) + " --all -o " + quoted(dir_.file("out")));
  EXPECT_EQ(r.code, 0) << r.err;
  // stderr is no terminal: no progress line, only the summary.
  EXPECT_EQ(r.err.rfind("vokip-reduce: 1 reduced, 0 skipped, 0 failed in ", 0), 0u) << r.err;
  EXPECT_EQ(lines_of(r.err).size(), 1u);
  for (const char* ext : {".xy", ".chi", ".csv", ".svg"}) {
    const std::string path = dir_.file(std::string("out/rings") + ext);
    EXPECT_TRUE(file_exists(path)) << path;
    EXPECT_NE(r.out.find(path), std::string::npos) << r.out;
  }
  const std::string xy = read_text(dir_.file("out/rings.xy"));
  EXPECT_EQ(
      xy.rfind(std::string("# vokip-reduce ") + kVokipVersion + ": 1-D profile of rings.mar1200\n",
               0),
      0u);
  EXPECT_GT(lines_of(xy).size(), 100u);
}

TEST_F(Cli, EveryBadFileGetsOneErrorLineAndNoOutput) {
  const std::string good = ring_file("good.mar1200", ByteOrder::big);
  const std::string text = read_text(good);
  const std::vector<std::uint8_t> bytes(text.begin(), text.end());
  const std::size_t marker = std::string(bytes.begin(), bytes.end()).find("CCP4 packed image");
  ASSERT_NE(marker, std::string::npos);
  struct Bad {
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string message;
  };
  std::vector<Bad> bad;
  bad.push_back({"empty.mar1200", {}, "empty file"});
  bad.push_back({"header.mar1200", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4096),
                 "overflow count HIGH 4 needs 64 bytes"});
  std::vector<std::uint8_t> b = bytes;
  b[marker + 5] = 'X';
  bad.push_back({"marker.mar1200", b, "no 'CCP4 packed image"});
  b.assign(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>((bytes.size() - marker) / 2));
  bad.push_back({"cut.mar1200", b, "packed stream cut short"});
  b = bytes;
  b[8] = b[9] = 0x7F;  // HIGH word, big-endian: far more records than bytes
  const std::size_t high_text = std::string(b.begin(), b.end()).find("HIGH ");
  b[high_text] = 'X';
  bad.push_back({"high.mar1200", b, "bytes of records, but only"});
  b = bytes;
  b[4096] = 0x7F;  // first record's address, big-endian
  bad.push_back({"address.mar1200", b, "outside 1..25600"});
  b = bytes;
  b[marker + 22] = '9';
  bad.push_back({"size.mar1200", b, "but the packed-image line X: 9160"});
  b = bytes;
  b[2] = 0x05;  // byte-order word 0x000005D2
  bad.push_back({"order.mar1200", b, "not a MAR345 image: the byte-order word is 0xD2050000"});
  b = bytes;
  std::fill(b.begin() + 4100, b.begin() + 4104, 0xFF);  // first record's value: -1
  bad.push_back({"value.mar1200", b, "the value -1, not a count above 65535"});
  b = bytes;  // of full length, the stream's second half garbage
  std::mt19937 random(3);
  for (std::size_t k = (marker + b.size()) / 2; k < b.size(); ++k) b[k] = random() & 0xFF;
  bad.push_back({"damaged.mar1200", b, "packed data damaged: from pixel "});

  std::string args = quoted(good);
  for (const Bad& one : bad) {
    write_bytes(dir_.file(one.name), one.bytes);
    args += " " + quoted(dir_.file(one.name));
  }
  const Outcome r = run(args + " --svg");
  EXPECT_EQ(r.code, 1);
  const std::vector<std::string> errors = lines_of(r.err);
  ASSERT_EQ(errors.size(), bad.size() + 1) << r.err;
  for (std::size_t k = 0; k < bad.size(); ++k) {
    const std::string& line = errors[k];
    EXPECT_EQ(line.rfind("vokip-reduce: " + dir_.file(bad[k].name) + ": ", 0), 0u) << line;
    EXPECT_NE(line.find(bad[k].message), std::string::npos) << line;
    const std::string stem = bad[k].name.substr(0, bad[k].name.find('.'));
    EXPECT_FALSE(file_exists(dir_.file(stem + ".xy"))) << stem;
    EXPECT_FALSE(file_exists(dir_.file(stem + ".svg"))) << stem;
  }
  EXPECT_EQ(errors.back().rfind("vokip-reduce: 1 reduced, 0 skipped, 10 failed in ", 0), 0u)
      << errors.back();
  EXPECT_TRUE(file_exists(dir_.file("good.xy")));
  EXPECT_TRUE(file_exists(dir_.file("good.svg")));
}

TEST_F(Cli, ExitCodesTellUsageProblems) {
  const std::string image = ring_file("rings.mar1200");
  Outcome r = run("");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("no image files given"), std::string::npos);
  r = run(quoted(image) + " --bins many");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--bins: needs a whole number"), std::string::npos) << r.err;
  EXPECT_FALSE(file_exists(dir_.file("rings.xy")));
  r = run(quoted(image) + " --mask " + quoted(dir_.file("nomask.pgm")));
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("mask " + dir_.file("nomask.pgm") + ": cannot open"), std::string::npos);
  // An input in a folder that is not there fails alone.
  r = run(quoted(image) + " " + quoted(dir_.file("none/x.mar1200")));
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("none/x.mar1200: cannot open"), std::string::npos) << r.err;
  EXPECT_TRUE(file_exists(dir_.file("rings.xy")));
  r = run("--help");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Usage: vokip-reduce"), std::string::npos);
  r = run("--version");
  EXPECT_EQ(r.out, std::string("vokip-reduce ") + kVokipVersion + "\n");
}

TEST_F(Cli, QuotedPatternsAndMasksWork) {
  ring_file("a.mar1200");
  ring_file("b.mar1200");
  std::string pgm = "P5 160 160 255\n";
  std::string pixels(160 * 160, '\0');
  for (int i = 0; i < 160; ++i) pixels[i] = 1;  // the first row
  const std::string mask = pgm + pixels;
  write_bytes(dir_.file("mask.pgm"), std::vector<std::uint8_t>(mask.begin(), mask.end()));
  const Outcome r = run(quoted(dir_.file("*.mar1200")) + " --mask " +
                        quoted(dir_.file("mask.pgm")) + " -q --csv");
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "");  // quiet: no list of files and no summary
  EXPECT_EQ(r.err, "");
  for (const char* stem : {"a", "b"}) {
    const std::string xy = read_text(dir_.file(std::string(stem) + ".xy"));
    EXPECT_NE(xy.find(", 160 masked,"), std::string::npos) << xy.substr(0, 400);
    EXPECT_TRUE(file_exists(dir_.file(std::string(stem) + ".csv")));
  }
}

TEST_F(Cli, TerminalShowsProgressAndPipesDoNot) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1)";
  const std::string image = ring_file("rings.mar1200");
  // script gives the program a terminal; its output lands in the typescript.
  const std::string typescript = dir_.file("typescript");
  const std::string command = "script -qec " +
                              quoted(std::string(VOKIP_REDUCE_EXE) + " " + image + " --times") +
                              " " + quoted(typescript) + " >/dev/null 2>&1 </dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string shown = read_text(typescript);
  EXPECT_NE(shown.find("[1/1] rings.mar1200"), std::string::npos) << shown;
  EXPECT_NE(shown.find("read "), std::string::npos);
  EXPECT_NE(shown.find("plan "), std::string::npos);
  EXPECT_NE(shown.find("reduce "), std::string::npos);
  const Outcome piped = run(quoted(image));
  EXPECT_EQ(piped.err.find("[1/1]"), std::string::npos);
}

// Profiles of several files whose names say which share of the sorted list
// they fall in: every file is reduced by exactly one share, with the same
// profile as a run over all of them.
TEST_F(Cli, SharesOfABatchReduceEveryFileOnce) {
  std::vector<std::string> names;
  for (int k = 0; k < 7; ++k) names.push_back(ring_file("s" + std::to_string(k) + ".mar1200"));
  const std::string pattern = quoted(dir_.file("s*.mar1200"));
  ASSERT_EQ(run(pattern + " -q -o " + quoted(dir_.file("whole"))).code, 0);
  for (int n : {2, 3}) {
    const std::string out = dir_.file("shares" + std::to_string(n));
    for (int k = 1; k <= n; ++k) {
      const Outcome r = run(pattern + " -o " + quoted(out) + " --shard " + std::to_string(k) + "/" +
                            std::to_string(n));
      EXPECT_EQ(r.code, 0) << r.err;
    }
    for (int k = 0; k < 7; ++k) {
      const std::string name = "/s" + std::to_string(k) + ".xy";
      EXPECT_EQ(read_text(out + name), read_text(dir_.file("whole") + name)) << name;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 7);
  }
  // Inside a Slurm array the share comes from the environment.
  const std::string out = dir_.file("array");
  for (int id = 1; id <= 3; ++id) {
    const Outcome r =
        run(pattern + " -o " + quoted(out), "SLURM_ARRAY_TASK_ID=" + std::to_string(id) +
                                                " SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=3");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).size(), id == 1 ? 2u : id == 2 ? 2u : 3u) << r.out;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 7);
}

TEST_F(Cli, SkipExistingReducesOnlyWhatIsMissingOutdatedOrMadeOtherwise) {
  for (const char* name : {"a.mar1200", "b.mar1200", "c.mar1200"}) ring_file(name);
  const std::string args = quoted(dir_.file("*.mar1200")) + " --chi --skip-existing";
  Outcome r = run(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err.rfind("vokip-reduce: 3 reduced, 0 skipped, 0 failed", 0), 0u) << r.err;
  // b's image changed after its profile was written; c's .chi is lost.
  fs::last_write_time(dir_.file("b.xy"),
                      fs::last_write_time(dir_.file("b.mar1200")) - std::chrono::seconds(5));
  fs::remove(dir_.file("c.chi"));
  r = run(args);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err.rfind("vokip-reduce: 2 reduced, 1 skipped, 0 failed", 0), 0u) << r.err;
  EXPECT_EQ(r.out.find(dir_.file("a.mar1200")), std::string::npos) << r.out;
  EXPECT_TRUE(file_exists(dir_.file("c.chi")));
  r = run(args);
  EXPECT_EQ(r.err.rfind("vokip-reduce: 0 reduced, 3 skipped, 0 failed", 0), 0u) << r.err;
  // Outputs made with other settings are made again, once: another unit, a
  // .poni, the same .poni recalibrated, other outputs.
  const std::string poni = dir_.file("g.poni");
  ASSERT_EQ(run(quoted(dir_.file("a.mar1200")) + " -q -o " + quoted(dir_.file("p")) +
                " --write-poni " + quoted(poni))
                .code,
            0);
  auto recalibrate = [&] {  // the .poni's distance 0.1 mm longer
    std::string text = read_text(poni);
    const std::size_t at = text.find("Distance: ") + 10;
    text.replace(at, text.find('\n', at) - at, std::to_string(std::stod(text.substr(at)) + 1e-4));
    write_bytes(poni, std::vector<std::uint8_t>(text.begin(), text.end()));
  };
  const std::vector<std::pair<std::string, std::function<void()>>> changes = {
      {" --unit q_A^-1", nullptr},
      {" --poni " + quoted(poni), nullptr},
      {" --poni " + quoted(poni), recalibrate},
      {" --poni " + quoted(poni) + " --csv", nullptr}};
  for (const auto& [options, before] : changes) {
    if (before) before();
    for (const char* expected :
         {"vokip-reduce: 3 reduced, 0 skipped", "vokip-reduce: 0 reduced, 3 skipped"}) {
      r = run(args + options);
      EXPECT_EQ(r.err.rfind(expected, 0), 0u) << options << ": " << r.err;
    }
  }
  EXPECT_NE(read_text(dir_.file("c.xy"))
                .find("\n# settings: vokip-reduce " + std::string(kVokipVersion) +
                      "; outputs .xy .chi .csv; geometry: .poni ("),
            std::string::npos);
}

// Every profile file present is whole: its header, then as many data lines
// as its header's pixel line allows, ending in a newline.
void expect_whole_profile(const std::string& path) {
  const std::string text = read_text(path);
  ASSERT_FALSE(text.empty()) << path;
  EXPECT_EQ(text.back(), '\n') << path;
  EXPECT_NE(text.find("# columns:"), std::string::npos) << path;
}

TEST_F(Cli, AKilledRunLeavesNoPartialFileSaysHowFarItCameAndARerunFinishesTheRest) {
  RingPattern pattern = small_rings(700);
  const std::vector<std::uint8_t> bytes =
      write_mar345(ring_pattern_file(pattern, make_ring_image(pattern)));
  for (int k = 0; k < 24; ++k)
    write_bytes(dir_.file("k" + std::to_string(10 + k) + ".mar1200"), bytes);
  const std::string out = dir_.file("out");
  const std::string args = quoted(dir_.file("k*.mar1200")) + " --all -o " + quoted(out);
  // Killed at several moments: whatever it had written is whole, and no
  // temporary file is left.
  for (int delay_ms : {80, 200, 400}) {
    fs::remove_all(out);
    const std::string command = std::string(VOKIP_REDUCE_EXE) + " " + args +
                                " >/dev/null 2>&1 </dev/null & pid=$!; sleep " +
                                std::to_string(delay_ms / 1000.0) +
                                "; kill -TERM $pid 2>/dev/null; wait $pid";
    std::system(command.c_str());
    if (!fs::exists(out)) continue;
    for (const auto& entry : fs::directory_iterator(out)) {
      const std::string name = entry.path().filename().string();
      EXPECT_FALSE(is_temporary_name(name))
          << name << " left after a kill at " << delay_ms << " ms";
      if (entry.path().extension() == ".xy") expect_whole_profile(entry.path().string());
    }
  }
  auto profiles_in = [](const std::string& folder) {
    std::size_t profiles = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      EXPECT_FALSE(is_temporary_name(entry.path().filename().string())) << entry.path();
      profiles += entry.path().extension() == ".xy";
    }
    return profiles;
  };
  // Ctrl-C once the first profile is there: the closing line counts exactly
  // the profiles the run leaves.
  fs::remove_all(out);
  const std::string err = dir_.file("interrupted");
  const std::string command = std::string(VOKIP_REDUCE_EXE) + " " + args + " >/dev/null 2>" +
                              quoted(err) + " </dev/null & pid=$!; for i in $(seq 1000); do [ -e " +
                              quoted(out + "/k10.xy") +
                              " ] && break; sleep 0.01; done; kill -INT $pid; wait $pid";
  const int status = std::system(command.c_str());
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
  const std::vector<std::string> lines = lines_of(read_text(err));
  ASSERT_FALSE(lines.empty());
  const std::string done = std::to_string(profiles_in(out));
  EXPECT_EQ(lines.back(), "vokip-reduce: interrupted after " + done + " of 24 files (" + done +
                              " reduced, 0 skipped, 0 failed); no partial file is left");

  // Temporaries a run killed without warning left go, whether the rerun
  // writes those outputs again or not (kbad's fail).
  write_bytes(dir_.file("kbad.mar1200"), {'x'});
  for (const char* name : {"/k10.xy", "/k33.svg", "/kbad.xy", "/kbad.chi"}) {
    write_bytes(temporary_name(out + name), {'#'});
  }
  const Outcome r = run(args + " --skip-existing");
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_EQ(profiles_in(out), 24u);
}

TEST_F(Cli, ChiAxisLinesAreTheOnesFit2dAndGsasReadAndXyeHasThreeColumns) {
  const std::string image = ring_file("rings.mar1200");
  struct Case {
    std::string unit, axis_line;
  };
  for (const Case& c : {Case{"2th_deg", "2-Theta Angle (Degrees)"}, Case{"q_A^-1", "Q 0.710730"},
                        Case{"q_nm^-1", "Q 0.710730"}, Case{"d_A", "Q 0.710730"},
                        Case{"r_mm", "Radial distance (mm)"}}) {
    SCOPED_TRACE(c.unit);
    const std::string out = dir_.file("out-" + c.unit.substr(0, 4));
    const Outcome r = run(quoted(image) + " --chi --xye --error-model poisson --unit '" + c.unit +
                          "' -o " + quoted(out));
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<std::string> chi = lines_of(read_text(out + "/rings.chi"));
    ASSERT_GT(chi.size(), 10u);
    EXPECT_EQ(chi[1], c.axis_line);
    EXPECT_EQ(chi[2], "Intensity");
    EXPECT_EQ(std::stoul(chi[3]), chi.size() - 4);
    double x = 0, y = 0, sigma = 0;
    std::istringstream(chi[4]) >> x >> y >> sigma;
    EXPECT_GT(sigma, 0);
    const std::vector<std::string> xye = lines_of(read_text(out + "/rings.xye"));
    EXPECT_EQ(xye.size(), chi.size() - 4);
    std::string extra;
    EXPECT_TRUE(std::istringstream(xye[0]) >> x >> y >> sigma);
    EXPECT_FALSE(std::istringstream(xye[0]) >> x >> y >> sigma >> extra);
    const std::string xy = read_text(out + "/rings.xy");
    EXPECT_NE(xy.find("# columns: " + c.unit + " mean_intensity sigma"), std::string::npos);
    EXPECT_NE(xy.find("# corrections: solid angle (cos^3)"), std::string::npos)
        << xy.substr(0, 600);
  }
  const Outcome r = run(quoted(image) + " --xye");
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("--xye needs --error-model"), std::string::npos) << r.err;
}

TEST_F(Cli, WrittenPoniReducesTheSameAsTheOptionsItCameFrom) {
  const std::string image = ring_file("rings.mar1200");
  const std::string geometry =
      " --tilt 2.5 --tilt-direction -70 --center 81.5,77.25 --no-solid-angle";
  Outcome r = run(quoted(image) + geometry + " -o " + quoted(dir_.file("options")) +
                  " --write-poni " + quoted(dir_.file("g.poni")));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(read_text(dir_.file("g.poni")).find("poni_version: 2\n"), std::string::npos);
  r = run(quoted(image) + " --no-solid-angle --poni " + quoted(dir_.file("g.poni")) + " -o " +
          quoted(dir_.file("poni")));
  ASSERT_EQ(r.code, 0) << r.err;
  const std::vector<std::string> a = lines_of(read_text(dir_.file("options/rings.xy")));
  const std::vector<std::string> b = lines_of(read_text(dir_.file("poni/rings.xy")));
  ASSERT_EQ(a.size(), b.size());
  std::size_t data = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (a[k][0] == '#') continue;
    double xa = 0, ya = 0, xb = 0, yb = 0;
    std::istringstream(a[k]) >> xa >> ya;
    std::istringstream(b[k]) >> xb >> yb;
    EXPECT_NEAR(xa, xb, 1e-9) << k;
    EXPECT_NEAR(ya, yb, 1e-6 * ya) << k;
    ++data;
  }
  EXPECT_GT(data, 50u);
}

TEST_F(Cli, BadCorrectionInputsGetOneLineAndWriteNothing) {
  const std::string image = ring_file("rings.mar1200");
  auto write_text = [&](const std::string& name, const std::string& text) {
    write_bytes(dir_.file(name), std::vector<std::uint8_t>(text.begin(), text.end()));
    return quoted(dir_.file(name));
  };
  const std::string poni =
      "poni_version: 2\nDetector_config: {\"pixel1\": 0.0006, \"pixel2\": 0.0006}\n"
      "Distance: 0.12\nPoni1: 0.05\nPoni2: 0.05\nRot1: 0\nRot2: 0\nRot3: 0\n";
  std::string no_key = poni;
  no_key.erase(no_key.find("Rot2: 0\n"), 8);
  std::string bad_number = poni;
  bad_number.replace(bad_number.find("0.12"), 4, "twelve");
  std::string orientation = poni;
  orientation.replace(orientation.find("0.0006}"), 7, "0.0006, \"orientation\": 1}");
  const std::vector<std::uint16_t> small(64 * 64, 3);
  write_bytes(dir_.file("small.mar1200"), write_mar345(small_contents(64, small)));
  struct Bad {
    std::string args, message;
    int code;
  };
  for (const Bad& bad : std::vector<Bad>{
           {"--poni " + write_text("a.poni", no_key), "the .poni has no Rot2", 2},
           {"--poni " + write_text("b.poni", bad_number), "Distance 'twelve' is not a number", 2},
           {"--poni " + write_text("c.poni", orientation), "only the default orientation 3", 2},
           {"--dark " + quoted(dir_.file("small.mar1200")), "the dark is 64 x 64 pixels", 1},
           {"--flat " + write_text("flat.txt", "1 2 3"), "not a MAR345, TIFF or EDF image", 2},
           {"--mask " + quoted(dir_.file("small.mar1200")), "not a PGM, FIT2D, TIFF or EDF mask",
            2},
           {"--dark " + quoted(dir_.file("nothing.tif")), "cannot open", 2},
           {"--polarization 1.5", "must lie from -1 to 1 [--polarization P]", 2},
       }) {
    SCOPED_TRACE(bad.args);
    const std::string out = dir_.file("out");
    const Outcome r = run(quoted(image) + " -q -o " + quoted(out) + " " + bad.args);
    EXPECT_EQ(r.code, bad.code);
    const std::vector<std::string> errors = lines_of(r.err);
    ASSERT_EQ(errors.size(), 1u) << r.err;
    EXPECT_NE(errors[0].find(bad.message), std::string::npos) << errors[0];
    EXPECT_FALSE(fs::exists(out + "/rings.xy"));
  }
}

// Geometry that cannot be this image's: one line each, nothing written.
TEST_F(Cli, ImplausibleGeometryAndAnotherDetectorsPoniAreRefused) {
  const std::string image = ring_file("plate.mar160");  // 160 x 160 pixels of 600 um
  auto poni = [&](const std::string& name, const std::string& config, const std::string& distance,
                  const std::string& poni1) {
    const std::string text = "poni_version: 2.1\nDetector_config: {" + config +
                             "}\nDistance: " + distance + "\nPoni1: " + poni1 +
                             "\nPoni2: 0.05\nRot1: 0\nRot2: 0\nRot3: 0\n";
    write_bytes(dir_.file(name), std::vector<std::uint8_t>(text.begin(), text.end()));
    return " --poni " + quoted(dir_.file(name));
  };
  const std::string pixels = R"("pixel1": 0.0006, "pixel2": 0.0006)";
  const RingPattern small = small_rings(120);
  write_bytes(dir_.file("small.mar120"),
              write_mar345(ring_pattern_file(small, make_ring_image(small))));
  const std::string sample = std::string(VOKIP_SOURCE_DIR) + "/samples/rings.mar1200";
  struct Refused {
    std::string args, line;
    int code;
    std::string refused;  // the output not written
    bool batch;           // with another image, which is reduced
  };
  for (const Refused& c : std::vector<Refused>{
           {quoted(image) + poni("mm.poni", pixels, "0.12", "48"),
            "vokip-reduce: " + image +
                ": Poni1 = 48 m in the .poni puts the beam centre 500 image sides from the 160 x "
                "160 image: .poni lengths are in metres [--center X,Y]",
            1, "plate.xy", false},
           {quoted(image) + poni("far.poni", pixels, "120", "0.048"),
            "vokip-reduce: Distance = 120 m in the .poni puts the plate beyond 100 m from the "
            "sample: .poni lengths are in metres [--distance MM]",
            2, "plate.xy", false},
           // In a batch the image of another size than the .poni's detector
           // is refused, the others reduced.
           {quoted(image) + " " + quoted(dir_.file("small.mar120")) +
                poni("160.poni", pixels + R"(, "max_shape": [160, 160])", "0.12", "0.048"),
            "vokip-reduce: " + dir_.file("small.mar120") +
                ": the image is 120 x 120 pixels, not the 160 x 160 of the .poni's detector (its "
                "Detector_config max_shape) [--poni FILE, or --distance, --center and "
                "--pixel-size]",
            1, "small.xy", true},
           // Without max_shape: the .poni's 100 um pixels are not those of
           // the 1200 x 1200 scan mode, 150 um.
           {quoted(sample) + " " + quoted(image) +
                poni("100um.poni", R"("pixel1": 0.0001, "pixel2": 0.0001)", "0.15", "0.008"),
            "vokip-reduce: " + sample +
                ": the image is 1200 x 1200 pixels, not the 1800 x 1800 of the .poni's detector "
                "(100 x 100 um pixels on the 180 mm plate of the image's scan mode) [--poni FILE, "
                "or --distance, --center and --pixel-size]",
            1, "rings.xy", true},
       }) {
    SCOPED_TRACE(c.args);
    const std::string out = dir_.file("out");
    fs::remove_all(out);
    const Outcome r = run(c.args + " -o " + quoted(out));
    EXPECT_EQ(r.code, c.code);
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_EQ(lines.size(), c.code == 2 ? 1u : 2u) << r.err;
    EXPECT_EQ(lines[0], c.line);
    if (c.code == 1) {
      EXPECT_EQ(lines[1].rfind(c.batch ? "vokip-reduce: 1 reduced, 0 skipped, 1 failed"
                                       : "vokip-reduce: 0 reduced, 0 skipped, 1 failed",
                               0),
                0u);
    }
    EXPECT_FALSE(fs::exists(out + "/" + c.refused));
    EXPECT_EQ(fs::exists(out + "/plate.xy"), c.batch);
  }
}

// A folder that takes no file fails the run before any image is reduced.
TEST_F(Cli, AnUnwritableOutputFolderStopsTheRunAtOnce) {
  if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "no setpriv(1)";
  const std::string image = ring_file("rings.mar160");
  const std::string out = dir_.file("locked");
  fs::create_directories(out);
  fs::permissions(dir_.path(), fs::perms::all, fs::perm_options::add);
  fs::permissions(out, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // Root writes anywhere: the run is made as nobody.
  const std::string as =
      ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
  const Outcome r = run(quoted(image) + " " + quoted(image) + " -o " + quoted(out), as);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "vokip-reduce: cannot write into the folder " + out + ": Permission denied\n");
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(Cli, CakeAndPicturesAreWrittenAndCountAsOutputs) {
  const std::string image = ring_file("rings.mar1200");
  const std::string args =
      quoted(image) + " --cake 36 --png --skip-existing -o " + quoted(dir_.file("out"));
  Outcome r = run(args);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* ext : {".xy", ".png", ".image.png", ".cake.tif", ".cake.txt", ".cake.png"}) {
    EXPECT_TRUE(file_exists(dir_.file(std::string("out/rings") + ext))) << ext;
  }
  r = run(args);
  EXPECT_EQ(r.err.rfind("vokip-reduce: 0 reduced, 1 skipped", 0), 0u) << r.err;
  fs::remove(dir_.file("out/rings.cake.tif"));
  r = run(args);
  EXPECT_EQ(r.err.rfind("vokip-reduce: 1 reduced, 0 skipped", 0), 0u) << r.err;
  EXPECT_EQ(run(quoted(image) + " --cake 0").code, 2);
}

// A run file needs every image's bins alike; it is whole or absent, whatever
// moment a run is killed at; and --skip-existing skips its run only whole.
TEST_F(Cli, RunFilesNeedFixedBinsAreWholeOrAbsentAndAreSkippedOnlyWhole) {
  const std::string image = ring_file("rings.mar1200");
  for (const char* options :
       {" --hdf5 r.h5", " --waterfall r.png --range 2:30", " --hdf5 r.h5 --bins 100 --range 2:"}) {
    const Outcome r = run(quoted(image) + options);
    EXPECT_EQ(r.code, 2) << options;
    EXPECT_NE(r.err.find("needs the same bins for every image: give --range LOW:HIGH and --bins "
                         "N or --bin-width W"),
              std::string::npos)
        << r.err;
  }

  RingPattern pattern = small_rings(700);
  const std::vector<std::uint8_t> bytes =
      write_mar345(ring_pattern_file(pattern, make_ring_image(pattern)));
  for (int k = 0; k < 24; ++k)
    write_bytes(dir_.file("k" + std::to_string(10 + k) + ".mar1200"), bytes);
  const std::string out = dir_.file("out");
  const std::string args = quoted(dir_.file("k*.mar1200")) + " --range 2:30 --bins 400 --cake 36" +
                           " -o " + quoted(out) + " --hdf5 " + quoted(out + "/run.h5");
  for (int delay_ms : {80, 200, 400}) {
    fs::remove_all(out);
    const std::string command = std::string(VOKIP_REDUCE_EXE) + " " + args +
                                " >/dev/null 2>&1 </dev/null & pid=$!; sleep " +
                                std::to_string(delay_ms / 1000.0) +
                                "; kill -TERM $pid 2>/dev/null; wait $pid";
    const int status = std::system(command.c_str());
    if (!fs::exists(out)) continue;
    for (const auto& entry : fs::directory_iterator(out)) {
      EXPECT_FALSE(is_temporary_name(entry.path().filename().string()))
          << entry.path() << " left after a kill at " << delay_ms << " ms";
    }
    // Only a run that finished before the signal (the shell's wait says
    // 128 + its number) leaves its file.
    EXPECT_EQ(fs::exists(out + "/run.h5"), WEXITSTATUS(status) < 128) << delay_ms;
  }

  const std::string three =
      quoted(dir_.file("k1[012].mar1200")) + " --range 2:30 --bins 400 --skip-existing -o " +
      quoted(dir_.file("three")) + " --hdf5 " + quoted(dir_.file("three/run.h5")) +
      " --waterfall " + quoted(dir_.file("three/run.png"));
  struct Step {
    std::function<void()> before;
    std::string options, expected;
  };
  const std::vector<Step> steps = {
      {nullptr, "", "3 reduced, 0 skipped"},
      {nullptr, "", "0 reduced, 3 skipped"},
      // One image changed: the run file holds every image, so all are reduced again.
      {[&] {
         fs::last_write_time(
             dir_.file("three/run.h5"),
             fs::last_write_time(dir_.file("k11.mar1200")) - std::chrono::seconds(5));
       },
       "", "3 reduced, 0 skipped"},
      {nullptr, "", "0 reduced, 3 skipped"},
      {nullptr, " --error-model poisson", "3 reduced, 0 skipped"},
      {[&] { fs::remove(dir_.file("three/run.png")); }, " --error-model poisson",
       "3 reduced, 0 skipped"},
      {nullptr, " --error-model poisson", "0 reduced, 3 skipped"},
  };
  for (const Step& step : steps) {
    if (step.before) step.before();
    const Outcome r = run(three + step.options);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("vokip-reduce: " + step.expected, 0), 0u) << step.options << r.err;
  }
  const RunFileReader reader(dir_.file("three/run.h5"));
  EXPECT_EQ(reader.description().names.size(), 3u);
  EXPECT_EQ(reader.description().error_model, ErrorModel::poisson);
}

}  // namespace
}  // namespace vokip
