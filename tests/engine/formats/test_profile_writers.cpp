// Profile files: what each format holds, that empty bins stay out of the
// plotted formats, and that files appear whole or not at all.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/formats/files.h"
#include "engine/formats/profile_writers.h"
#include "support/test_files.h"

namespace vokip {
namespace {

// A profile with the geometry it was made with.
struct Reduction {
  Geometry geometry;
  Profile profile;
};

std::string format_xy(const Reduction& r, const ProfileOrigin& o) {
  return vokip::format_xy(r.profile, r.geometry, o);
}
std::string format_chi(const Reduction& r, const ProfileOrigin& o) {
  return vokip::format_chi(r.profile, r.geometry, o);
}
std::string format_csv(const Reduction& r) {
  return vokip::format_csv(r.profile, r.geometry);
}

// Three bins around 10, 10.5 and 11 degrees, the middle one empty.
Reduction sample_reduction(Statistic statistic = Statistic::mean) {
  Reduction r;
  r.geometry.distance_mm = 150;
  r.geometry.center_x_px = 600.5;
  r.geometry.center_y_px = 599;
  r.geometry.pixel_x_um = r.geometry.pixel_y_um = 150;
  r.geometry.tilt_deg = 0.5;
  r.geometry.tilt_direction_deg = 30;
  r.geometry.wavelength_angstrom = 1.0;
  Profile& p = r.profile;
  p.statistic = statistic;
  p.centre = {10, 10.5, 11};
  p.bin_width = 0.5;
  p.count = {4, 0, 2};
  const double nan = std::nan("");
  p.value = {120.5, nan, 99.25};
  p.variance = {4, nan, 0.5};
  p.spread = {0.25, nan, 0.125};
  p.standard_error = {1, nan, 0.5};
  p.pixels.total = 10;
  p.pixels.used = 6;
  p.pixels.zero = 3;
  p.pixels.masked = 1;
  return r;
}

const ProfileOrigin kOrigin{"run & 7.mar2300", "vokip-reduce 1.0.0", "", "the .poni (distance)",
                            "vokip-reduce 1.0.0; outputs .xy"};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(ProfileWriters, XyHasACommentedHeaderAndTwoColumns) {
  const std::vector<std::string> lines = lines_of(format_xy(sample_reduction(), kOrigin));
  std::vector<std::string> data;
  std::string header;
  for (const std::string& line : lines) (line[0] == '#' ? header : data.emplace_back()) += line;
  EXPECT_NE(header.find("vokip-reduce 1.0.0: 1-D profile of run & 7.mar2300"), std::string::npos);
  EXPECT_NE(header.find("distance 150 mm, beam centre (600.5, 599) px, pixel 150 x 150 um, "
                        "tilt 0.5 deg, tilt direction 30 deg, wavelength 1 A"),
            std::string::npos)
      << header;
  EXPECT_NE(header.find("6 of 10 used; left out: 3 zero, 1 masked"), std::string::npos);
  EXPECT_NE(header.find("# geometry from: the .poni (distance)"), std::string::npos);
  // The bins the header counts and the rows below it, told apart.
  EXPECT_NE(header.find("# bins: 3 of width 0.5 in 2th_deg, 2 with pixels written below (bins "
                        "without pixels are left out; the .csv keeps every bin)"),
            std::string::npos)
      << header;
  EXPECT_NE(header.find("# settings: vokip-reduce 1.0.0; outputs .xy# columns: 2th_deg "
                        "mean_intensity"),
            std::string::npos);
  ASSERT_EQ(data.size(), 2u);  // the empty bin is left out
  double x = 0, y = 0;
  std::istringstream(data[0]) >> x >> y;
  EXPECT_DOUBLE_EQ(x, 10);
  EXPECT_DOUBLE_EQ(y, 120.5);
  std::istringstream(data[1]) >> x >> y;
  EXPECT_DOUBLE_EQ(x, 11);
  EXPECT_DOUBLE_EQ(y, 99.25);
}

TEST(ProfileWriters, ChiHasFourHeaderLinesAndThePointCount) {
  Reduction r = sample_reduction();
  const std::vector<std::string> lines = lines_of(format_chi(r, kOrigin));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[1], "2-Theta Angle (Degrees)");
  EXPECT_EQ(lines[2], "Intensity");
  EXPECT_EQ(std::stoi(lines[3]), 2);
  double x = 0, y = 0;
  std::istringstream(lines[5]) >> x >> y;
  EXPECT_DOUBLE_EQ(x, 11);
  EXPECT_DOUBLE_EQ(y, 99.25);
  r.profile.unit = Unit::q_inv_angstrom;
  EXPECT_EQ(lines_of(format_chi(r, kOrigin))[1], "Q 1.000000");
}

TEST(ProfileWriters, CsvKeepsEveryBinAndEveryStatistic) {
  const std::vector<std::string> mean = lines_of(format_csv(sample_reduction()));
  ASSERT_EQ(mean.size(), 4u);
  EXPECT_EQ(mean[0],
            "bin,two_theta_deg,q_inv_angstrom,d_angstrom,count,mean,variance,dispersion,"
            "standard_error");
  EXPECT_EQ(mean[2].substr(mean[2].find(",0,")), ",0,,,,");
  // Bin 0: q = 4 pi sin(5 deg) / 1 A, d = 1 / (2 sin 5 deg), standard error sqrt(4 / 4).
  std::istringstream row(mean[1]);
  std::vector<double> fields;
  for (std::string f; std::getline(row, f, ',');) fields.push_back(std::stod(f));
  ASSERT_EQ(fields.size(), 9u);
  const double s = std::sin(5 * std::acos(-1.0) / 180);
  EXPECT_NEAR(fields[2], 4 * std::acos(-1.0) * s, 1e-6);
  EXPECT_NEAR(fields[3], 1 / (2 * s), 1e-5);
  EXPECT_EQ(fields[4], 4);
  EXPECT_EQ(fields[5], 120.5);
  EXPECT_EQ(fields[8], 1);

  Reduction q = sample_reduction(Statistic::median);
  q.geometry.wavelength_angstrom.reset();
  const std::vector<std::string> median = lines_of(format_csv(q));
  EXPECT_EQ(median[0],
            "bin,two_theta_deg,count,median,variance_about_median,mean_absolute_deviation");
  EXPECT_EQ(median[3], "2,11,2,99.25,0.5,0.125");
}

TEST(ProfileWriters, FilesAppearWholeAndNothingIsLeftBehind) {
  TempDir dir;
  const std::string path = dir.file("p.xy");
  write_file_atomically(path, std::string("first\n"));
  // What a killed run left under the temporary name is replaced.
  write_bytes(temporary_name(path), {'h', 'a', 'l', 'f'});
  EXPECT_TRUE(is_temporary_name(".p.xy.part"));
  EXPECT_FALSE(is_temporary_name("p.xy"));
  write_file_atomically(path, std::string("second\n"));
  EXPECT_EQ(read_text(path), "second\n");
  EXPECT_EQ(std::system(("test $(ls -A '" + dir.path() + "' | wc -l) -eq 1").c_str()), 0);

  try {
    write_file_atomically(dir.file("missing/p.xy"), std::string("x"));
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot write"), std::string::npos) << e.what();
    EXPECT_EQ(e.kind(), Error::Kind::io);
  }
  EXPECT_FALSE(file_exists(dir.file("missing/p.xy")));
}

}  // namespace
}  // namespace vokip
