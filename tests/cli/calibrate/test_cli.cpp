// vokip-calibrate as users run it: a calibration printed, its .poni reducing
// the image onto the calibrant with vokip-reduce, its picture, a header
// without a centre, one line and a non-zero exit for every bad input, and a
// fit not to be trusted kept from the .poni unless forced.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "engine/calibrate/calibrants.h"
#include "engine/geometry/units.h"
#include "support/calibrant_images.h"
#include "support/test_files.h"
#include "vokip_version.h"

namespace vokip {
namespace {

const double kPi = std::acos(-1.0);

struct Outcome {
  int code = -1;
  std::string out, err;
};

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The number after `name` in the text.
double value_after(const std::string& text, const std::string& name) {
  const std::size_t at = text.find(name);
  EXPECT_NE(at, std::string::npos) << name << " in " << text;
  return at == std::string::npos ? NAN : std::strtod(text.c_str() + at + name.size(), nullptr);
}

class CalibrateCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ceo2_ = new Calibrant(builtin_calibrant("CeO2"));
    pattern_ = new RingPattern(calibrant_pattern(ceo2_->d_spacings_angstrom));
    pattern_->tilt_deg = 6;
    pattern_->tilt_direction_deg = 300;
  }
  static void TearDownTestSuite() {
    delete ceo2_;
    delete pattern_;
  }

  Outcome run(const std::string& exe, const std::string& args) {
    const std::string out = dir_.file("stdout"), err = dir_.file("stderr");
    const std::string command =
        exe + " " + args + " >" + quoted(out) + " 2>" + quoted(err) + " </dev/null";
    const int status = std::system(command.c_str());
    Outcome r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_text(out);
    r.err = read_text(err);
    return r;
  }
  Outcome calibrate(const std::string& args) { return run(VOKIP_CALIBRATE_EXE, args); }

  // The pattern's image with a header 30 px and 3 % off, or as given.
  std::string image(const std::string& name, const HeaderGeometry& header) {
    const std::string path = dir_.file(name);
    write_bytes(path, calibrant_file(*pattern_, header));
    return path;
  }
  std::string rough_image(const std::string& name) {
    HeaderGeometry h;
    h.distance_mm = pattern_->distance_mm * 1.03;
    h.center_x_px = pattern_->center_x_px - 21;
    h.center_y_px = pattern_->center_y_px + 21;
    return image(name, h);
  }

  static Calibrant* ceo2_;
  static RingPattern* pattern_;
  TempDir dir_;
};

Calibrant* CalibrateCli::ceo2_ = nullptr;
RingPattern* CalibrateCli::pattern_ = nullptr;

TEST_F(CalibrateCli, CalibratesAndWritesAPoniThatReducesOntoTheCalibrant) {
  const std::string path = rough_image("ceo2.mar1200");
  const std::string poni = dir_.file("ceo2.poni"), png = dir_.file("ceo2.png");
  const Outcome r = calibrate(quoted(path) + " --calibrant ceo2 --write-poni " + quoted(poni) +
                              " --png " + quoted(png));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_GT(lines.size(), 12u) << r.out;
  EXPECT_EQ(lines[0],
            std::string("vokip-calibrate ") + kVokipVersion + ": " + path + ", calibrant CeO2");
  EXPECT_NE(r.out.find("starting from ("), std::string::npos);
  EXPECT_NE(r.out.find("  ring  d (A)        2-theta (deg)  points  rms (deg)"), std::string::npos);
  EXPECT_NE(r.out.find("     1  3.124418     12.863645"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("rms residual "), std::string::npos);
  EXPECT_NE(r.out.find("geometry: " + poni), std::string::npos);
  EXPECT_NE(r.out.find("picture: " + png), std::string::npos);
  // Version 2, which Debian 12's pyFAI reads, says all that 2.1 would.
  const std::string poni_text = read_text(poni);
  EXPECT_NE(poni_text.find("\nponi_version: 2\n"), std::string::npos) << poni_text;
  EXPECT_EQ(poni_text.find("orientation"), std::string::npos) << poni_text;

  // The printed options, as vokip-reduce takes them, hold the geometry.
  const std::string options = r.out.substr(r.out.find("vokip-reduce options: "));
  EXPECT_NEAR(value_after(options, "--distance "), pattern_->distance_mm,
              2e-4 * pattern_->distance_mm);
  EXPECT_NEAR(value_after(options, "--center "), pattern_->center_x_px, 0.05);
  EXPECT_NEAR(value_after(options, "--tilt "), 6, 0.01);
  EXPECT_NEAR(value_after(options, "--tilt-direction "), 300, 0.5);
  EXPECT_NEAR(value_after(r.out, "  tilt            "), 6, 0.01);

  // The .poni reduces the image to a profile whose peaks sit on the rings.
  const Outcome reduced = run(VOKIP_REDUCE_EXE, quoted(path) + " --poni " + quoted(poni) +
                                                    " --bin-width 0.005 --no-solid-angle -q -o " +
                                                    quoted(dir_.file("reduced")));
  ASSERT_EQ(reduced.code, 0) << reduced.err;
  std::vector<double> x, y;
  for (const std::string& line : lines_of(read_text(dir_.file("reduced/ceo2.xy")))) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream in(line);
    double a = 0, b = 0;
    in >> a >> b;
    x.push_back(a);
    y.push_back(b);
  }
  ASSERT_GT(x.size(), 1000u);
  int rings = 0;
  for (double d : ceo2_->d_spacings_angstrom) {
    const double ring = two_theta_of_d(d, pattern_->wavelength_angstrom);
    if (!(ring < 26)) break;
    std::size_t first = 0, last = 0;
    while (first < x.size() && x[first] < ring - 0.15) ++first;
    last = first;
    while (last + 1 < x.size() && x[last + 1] < ring + 0.15) ++last;
    const double floor = std::min(y[first], y[last]);
    double weight = 0, moment = 0;
    for (std::size_t k = first; k <= last; ++k) {
      weight += y[k] - floor;
      moment += (y[k] - floor) * x[k];
    }
    EXPECT_NEAR(moment / weight, ring, 0.002) << d;
    ++rings;
  }
  EXPECT_EQ(rings, 5);

  // The picture: a PNG of the image's size (640 pixels a side).
  const std::string picture = read_text(png);
  ASSERT_GT(picture.size(), 24u);
  EXPECT_EQ(picture.substr(1, 3), "PNG");
  EXPECT_EQ(static_cast<unsigned char>(picture[18]) * 256 + static_cast<unsigned char>(picture[19]),
            640);
}

TEST_F(CalibrateCli, HeaderWithoutACentreIsSearchedWhole) {
  HeaderGeometry h;
  h.centre = false;
  const std::string path = image("nocentre.mar1200", h);
  const Outcome r = calibrate(quoted(path) + " --calibrant CeO2");
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("(no centre given)"), std::string::npos);
  EXPECT_NEAR(value_after(r.out, "  beam centre x  "), pattern_->center_x_px, 0.05);
  EXPECT_NEAR(value_after(r.out, "  beam centre y  "), pattern_->center_y_px, 0.05);
}

TEST_F(CalibrateCli, EveryBadInputGetsOneLineAndNothingWritten) {
  const std::string good = rough_image("good.mar1200");
  HeaderGeometry h;
  h.wavelength = false;
  const std::string no_wavelength = image("nowavelength.mar1200", h);
  RingPattern blank = *pattern_;
  blank.rings = {{40, 0.1, 0}};
  const std::string blank_path = dir_.file("blank.mar1200");
  write_bytes(blank_path, calibrant_file(blank));
  write_bytes(dir_.file("one.D"), {'2', '.', '7', '\n'});
  write_bytes(dir_.file("bad.D"), {'2', '.', '7', '\n', 'x', '\n'});
  write_bytes(dir_.file("text.mar1200"), {'h', 'e', 'l', 'l', 'o'});
  // Cut short, and with no pixel size in the header: the damage is what
  // is wrong.
  HeaderGeometry no_pixel;
  no_pixel.pixel_size = false;
  std::vector<std::uint8_t> cut = calibrant_file(*pattern_, no_pixel);
  cut.resize(cut.size() * 2 / 3);
  write_bytes(dir_.file("cut.mar1200"), cut);
  std::string mask = "P2 10 10 1\n";
  for (int k = 0; k < 100; ++k) mask += "0 ";
  write_bytes(dir_.file("small.pgm"), std::vector<std::uint8_t>(mask.begin(), mask.end()));
  write_bytes(dir_.file("bad.poni"), {'D', 'i', 's', 't', 'a', 'n', 'c', 'e', ':', ' ', '1'});

  struct Bad {
    std::string args, message;
  };
  const std::string g = quoted(good);
  const std::vector<Bad> bad = {
      {g + " --calibrant quartz",
       "vokip-calibrate: unknown calibrant 'quartz'; built in: LaB6, "
       "CeO2, Si, AgBh [--calibrant NAME or --calibrant-file FILE]"},
      {g + " --calibrant-file " + quoted(dir_.file("bad.D")),
       "vokip-calibrate: " + dir_.file("bad.D") +
           ": line 2 of the calibrant list: 'x' is not a d-spacing (a positive number of "
           "angstrom)"},
      {quoted(dir_.file("none.mar1200")) + " --calibrant CeO2",
       "vokip-calibrate: " + dir_.file("none.mar1200") + ": cannot open"},
      {quoted(dir_.file("text.mar1200")) + " --calibrant CeO2",
       "vokip-calibrate: " + dir_.file("text.mar1200") + ": "},
      {quoted(dir_.file("cut.mar1200")) + " --calibrant CeO2",
       "vokip-calibrate: " + dir_.file("cut.mar1200") + ": packed stream cut short: "},
      {quoted(no_wavelength) + " --calibrant CeO2",
       "vokip-calibrate: " + no_wavelength +
           ": calibration needs the wavelength, which is not known [--wavelength A]"},
      {g + " --calibrant CeO2 --mask " + quoted(dir_.file("small.pgm")),
       "vokip-calibrate: " + good + ": the mask is 10 x 10 pixels, the image 640 x 640"},
      {g + " --calibrant CeO2 --poni " + quoted(dir_.file("bad.poni")),
       "vokip-calibrate: " + dir_.file("bad.poni") + ": "},
      {quoted(blank_path) + " --calibrant CeO2",
       "vokip-calibrate: " + blank_path +
           ": no ring of CeO2 found in the image (check the calibrant, wavelength and distance)"},
      {g + " --calibrant-file " + quoted(dir_.file("one.D")),
       "vokip-calibrate: " + good + ": too few ring points for a fit: "},
      {g + " --calibrant CeO2 --max-iterations 1",
       "vokip-calibrate: " + good + ": the geometry fit did not converge in 1 iterations"},
  };
  const std::string poni = dir_.file("out.poni"), png = dir_.file("out.png");
  for (const Bad& b : bad) {
    const Outcome r = calibrate(b.args + " --write-poni " + quoted(poni) + " --png " + quoted(png));
    EXPECT_EQ(r.code, 1) << b.args;
    EXPECT_EQ(r.out, "") << b.args;
    ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind(b.message, 0), 0u) << r.err;
    EXPECT_FALSE(file_exists(poni)) << b.args;
    EXPECT_FALSE(file_exists(png)) << b.args;
  }

  Outcome r = calibrate(g);
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err,
            "vokip-calibrate: give the calibrant: --calibrant NAME or --calibrant-file FILE (one "
            "of them)\n");
  r = calibrate("--version");
  EXPECT_EQ(r.out, std::string("vokip-calibrate ") + kVokipVersion + "\n");
  r = calibrate("--help");
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Usage: vokip-calibrate"), std::string::npos);
}

TEST_F(CalibrateCli, AFitNotCredibleWritesNoPoniUnlessForced) {
  const std::string path = rough_image("ceo2.mar1200");
  const std::string poni = dir_.file("lab6.poni"), png = dir_.file("lab6.png");
  const std::string args =
      quoted(path) + " --calibrant LaB6 --write-poni " + quoted(poni) + " --png " + quoted(png);
  const std::string doubt = "the fit is not credible: rms residual ";
  Outcome r = calibrate(args);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("vokip-calibrate: " + path + ": " + doubt, 0), 0u) << r.err;
  EXPECT_GT(value_after(r.err, doubt), 1);
  EXPECT_NE(r.err.find(" LaB6 rings on the plate up to the outermost used found"),
            std::string::npos);
  EXPECT_NE(r.err.find("; check the calibrant, wavelength and distance [--force]\n"),
            std::string::npos);
  EXPECT_FALSE(file_exists(poni));
  EXPECT_TRUE(file_exists(png)) << "the picture shows why";

  r = calibrate(args + " --force");
  EXPECT_EQ(r.code, 0);
  ASSERT_EQ(lines_of(r.err).size(), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("vokip-calibrate: " + path + ": warning: " + doubt, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("; kept as --force asks\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("geometry: " + poni), std::string::npos);
  EXPECT_NE(read_text(poni).find("Distance: "), std::string::npos);
}

}  // namespace
}  // namespace vokip
