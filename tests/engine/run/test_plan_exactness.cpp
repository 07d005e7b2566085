// A plan reused image after image, its bins integrated in chunks on several
// threads, gives exactly (bit for bit) the profile of the plain reduction of
// each image on its own: select the pixels, sort them by angle, lay out the
// bins over their extent, and integrate all of them in one call of the core.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "engine/base/error.h"
#include "engine/geometry/lab_frame.h"
#include "engine/geometry/pixel_angles.h"
#include "engine/run/bin_sums.h"
#include "engine/run/reducer.h"
#include "integrate/bin_scanner.h"
#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"
#include "support/mar345_writer.h"
#include "support/test_files.h"

namespace vokip {
namespace {

struct Plain {
  Profile profile;
  std::string error;
};

double in_unit(const PlanParameters& parameters, double two_theta) {
  if (parameters.unit == Unit::two_theta_deg) return two_theta;
  const double pi = std::acos(-1.0);
  const double q =
      4 * pi * std::sin(two_theta * pi / 360) / *parameters.geometry.wavelength_angstrom;
  return parameters.unit == Unit::q_inv_nm ? q * 10 : q;
}

// Every pixel's 1 / (flat x solid angle x polarization), as the plan keeps it.
std::vector<double> norms(const PlanParameters& parameters) {
  const Corrections& c = parameters.corrections;
  const LabFrame lab(parameters.geometry);
  std::vector<double> out(static_cast<std::size_t>(parameters.width) * parameters.height, 1.0);
  for (int row = 0; row < parameters.height; ++row) {
    for (int col = 0; col < parameters.width; ++col) {
      const LabFrame::Pixel at = lab.at(col, row);
      double f = c.flat ? c.flat->values[row * parameters.width + col] : 1.0;
      if (c.solid_angle) f *= at.cos_normal * at.cos_normal * at.cos_normal;
      if (c.polarization) {
        const double cos2 = at.cos_two_theta * at.cos_two_theta;
        f *= (1 + cos2 - *c.polarization * at.cos_two_chi * (1 - cos2)) / 2;
      }
      out[row * parameters.width + col] = f;
    }
  }
  return out;
}

// The reduction of one image without a plan.
Plain plain_reduction(const Image& image, const PlanParameters& parameters, const RunOptions& run) {
  const int w = parameters.width, h = parameters.height;
  const std::int64_t n = std::int64_t{w} * h;
  std::vector<double> angles(n), chi(n);
  PixelAngles(parameters.geometry, w, h).rows(0, h, angles.data(), nullptr);
  for (int row = 0; row < h; ++row)
    LabFrame(parameters.geometry).chi_row(row, w, chi.data() + row * w);
  const std::vector<double> norm = norms(parameters);
  const float* dark =
      parameters.corrections.dark ? parameters.corrections.dark->values.data() : nullptr;
  const bool any_factor = parameters.corrections.any_factor();
  Plain out;
  PixelTally& t = out.profile.pixels;
  t.total = n;
  struct Kept {
    double angle;
    std::uint32_t raw;
    double dark, norm;
  };
  std::vector<Kept> kept;
  for (std::int64_t p = 0; p < n; ++p) {
    const std::uint32_t v = image.value(p);
    bool in_sector = true;
    if (parameters.sector && parameters.sector->to_deg - parameters.sector->from_deg < 360) {
      double from = std::fmod(parameters.sector->from_deg, 360.0);
      if (from < 0) from += 360;
      const double to = from + (parameters.sector->to_deg - parameters.sector->from_deg);
      in_sector = (chi[p] >= from && chi[p] < to) || (chi[p] + 360 >= from && chi[p] + 360 < to);
    }
    if (v == 0) {
      ++t.zero;
    } else if (parameters.mask && parameters.mask->excluded[p]) {
      ++t.masked;
    } else if (!in_sector) {
      ++t.off_sector;
    } else {
      kept.push_back({angles[p], v, dark ? dark[p] : 0.0, any_factor ? norm[p] : 1.0});
    }
  }
  if (kept.empty()) {
    out.error = "no pixel left: every one is zero, masked or outside the sector";
    return out;
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) {
    if (std::isnan(a.angle) || std::isnan(b.angle))
      return !std::isnan(a.angle) && std::isnan(b.angle);
    return a.angle < b.angle;
  });
  std::size_t numbers = 0;
  while (numbers < kept.size() && !std::isnan(kept[numbers].angle)) ++numbers;
  if (numbers == 0) {
    out.error = "no pixel has an angle (the geometry gives none)";
    return out;
  }
  double farthest = 0;
  for (double x : {0.0, double(w)}) {
    for (double y : {0.0, double(h)}) {
      farthest = std::max(farthest, std::hypot(x - parameters.geometry.center_x_px,
                                               y - parameters.geometry.center_y_px));
    }
  }
  BinLayout layout;
  try {
    layout =
        lay_out_bins(parameters.bins, in_unit(parameters, kept[0].angle),
                     in_unit(parameters, kept[numbers - 1].angle),
                     std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(farthest))));
  } catch (const Error& e) {
    out.error = e.what();
    return out;
  }
  std::vector<double> keys, values;
  std::vector<Kept> members;
  for (std::size_t k = 0; k < numbers; ++k) {
    const double key = in_unit(parameters, kept[k].angle);
    if (!(key >= layout.lower && key < layout.upper)) continue;
    const Kept& e = kept[k];
    if ((run.low && e.raw < *run.low) || (run.high && e.raw > *run.high)) {
      ++t.outside_limits;
      continue;
    }
    keys.push_back(key);
    values.push_back((e.raw - e.dark) / e.norm);
    members.push_back(e);
  }
  t.used = static_cast<std::int64_t>(keys.size());
  t.off_range = static_cast<std::int64_t>(kept.size()) - t.used - t.outside_limits;
  if (keys.empty()) {
    out.error = t.outside_limits > 0 ? "no pixel lies inside the range of the bins and the limits"
                                     : "no pixel lies inside the range of the bins";
    return out;
  }
  Profile& p = out.profile;
  const std::int64_t m = static_cast<std::int64_t>(layout.centres.size());
  p.centre = layout.centres;
  p.bin_width = layout.width;
  p.value.assign(m, 0.0);
  p.variance.assign(m, 0.0);
  p.spread.assign(m, 0.0);
  const auto k = static_cast<std::int64_t>(keys.size());
  if (run.statistic == Statistic::median) {
    integrate_median(keys.data(), k, values.data(), p.centre.data(), m, p.value.data(),
                     p.variance.data(), p.spread.data(), m);
  } else {
    integrate_mean(keys.data(), k, values.data(), p.centre.data(), m, p.value.data(),
                   p.variance.data(), p.spread.data(), m);
  }
  // The mean of corrected values is the sum of signals over the sum of
  // normalisations, not the cores' mean of the values.
  const bool corrected = parameters.corrections.any_factor() || parameters.corrections.dark;
  bin_scanner scanner(keys.data(), k, p.centre.data(), m);
  for (std::int64_t i = 0; i < m; ++i) {
    const BinRange bin = scanner.next_bin(i);
    const std::int64_t count = bin.end - bin.lo;
    p.count.push_back(static_cast<double>(count));
    BinSum sums;
    for (std::int64_t j = bin.lo; j < bin.end; ++j) {
      const Kept& e = members[j];
      sums.add(1.0, e.raw - e.dark, e.norm, values[j], e.raw + e.dark);
    }
    if (corrected && run.statistic == Statistic::mean && count > 0) {
      p.value[i] = sums.mean();
      p.variance[i] = sums.variance();
      p.spread[i] = sums.dispersion();
    }
    if (run.error_model == ErrorModel::poisson) {
      p.sigma.push_back(sums.counting_error());
    } else if (run.error_model == ErrorModel::azimuthal) {
      // The median weighs every member the same.
      p.sigma.push_back(run.statistic == Statistic::median ? std::sqrt(p.variance[i] / count)
                                                           : sums.standard_error(p.variance[i]));
    }
    if (count == 0) {
      p.value[i] = p.variance[i] = p.spread[i] = std::nan("");
      if (!p.sigma.empty()) p.sigma[i] = std::nan("");
    }
  }
  return out;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

void expect_identical(const Profile& engine, const Profile& plain) {
  EXPECT_TRUE(same_bits(engine.centre, plain.centre));
  EXPECT_EQ(engine.count, plain.count);
  EXPECT_TRUE(same_bits(engine.value, plain.value));
  EXPECT_TRUE(same_bits(engine.variance, plain.variance));
  EXPECT_TRUE(same_bits(engine.spread, plain.spread));
  EXPECT_TRUE(same_bits(engine.sigma, plain.sigma));
  EXPECT_EQ(engine.bin_width, plain.bin_width);
  const PixelTally &a = engine.pixels, &b = plain.pixels;
  EXPECT_EQ(a.total, b.total);
  EXPECT_EQ(a.zero, b.zero);
  EXPECT_EQ(a.masked, b.masked);
  EXPECT_EQ(a.off_sector, b.off_sector);
  EXPECT_EQ(a.off_range, b.off_range);
  EXPECT_EQ(a.outside_limits, b.outside_limits);
  EXPECT_EQ(a.used, b.used);
}

// Ring images of 320 x 320 pixels (about three chunks of members), each with
// its own noise, beam stop and overflow pixels, so that every image has its
// own extent of data.
std::vector<Mar345Contents> images(ByteOrder order) {
  std::vector<Mar345Contents> files;
  for (int k = 0; k < 3; ++k) {
    RingPattern pattern = small_rings(320);
    pattern.pixel_um = 400;
    pattern.tilt_deg = 3;
    pattern.tilt_direction_deg = 70;
    pattern.seed = 100 + k;
    pattern.beam_stop_radius_px = 4 + 3 * k;
    pattern.overflow_pixels = 3 + k;
    files.push_back(ring_pattern_file(pattern, make_ring_image(pattern), order));
  }
  return files;
}

struct Case {
  const char* name;
  Statistic statistic;
  Unit unit;
  BinRequest bins;
  std::optional<AzimuthSector> sector;
  bool masked;
  // Corrections: solid angle, polarization, dark and flat, limits, error model.
  bool corrected = false;
};

std::vector<Case> cases() {
  BinRequest by_width;
  by_width.width = 0.05;
  BinRequest range;
  range.low = 6;
  range.high = 21;
  range.count = 700;
  BinRequest q_range;
  q_range.low = 0.8;
  BinRequest one;
  one.count = 1;
  BinRequest two;
  two.count = 2;
  two.high = 20;
  return {
      {"mean, default bins", Statistic::mean, Unit::two_theta_deg, {}, std::nullopt, false},
      {"median, default bins", Statistic::median, Unit::two_theta_deg, {}, std::nullopt, false},
      {"mean, width", Statistic::mean, Unit::two_theta_deg, by_width, std::nullopt, true},
      {"mean, range", Statistic::mean, Unit::two_theta_deg, range, AzimuthSector{-60, 100}, false},
      {"median, range, sector, mask", Statistic::median, Unit::two_theta_deg, range,
       AzimuthSector{200, 300}, true},
      {"mean, q from 0.8", Statistic::mean, Unit::q_inv_angstrom, q_range, std::nullopt, true},
      {"median, q", Statistic::median, Unit::q_inv_angstrom, {}, AzimuthSector{10, 370}, false},
      {"one bin", Statistic::mean, Unit::two_theta_deg, one, std::nullopt, false},
      {"two bins", Statistic::median, Unit::two_theta_deg, two, std::nullopt, true},
      {"mean, corrected", Statistic::mean, Unit::two_theta_deg, by_width, std::nullopt, false,
       true},
      {"median, d, corrected",
       Statistic::median,
       Unit::d_angstrom,
       {},
       AzimuthSector{30, 200},
       true,
       true},
      {"mean, q_nm^-1, corrected", Statistic::mean, Unit::q_inv_nm, range, std::nullopt, true,
       true},
  };
}

TEST(PlanExactness, EveryImageOfABatchEqualsItsPlainReduction) {
  TempDir dir;
  auto mask = std::make_shared<Mask>();
  mask->width = mask->height = 320;
  mask->excluded.assign(320 * 320, 0);
  for (int row = 100; row < 140; ++row) {
    for (int col = 0; col < 320; ++col) mask->excluded[row * 320 + col] = col % 3 == 0;
  }
  auto dark = std::make_shared<ValueImage>();
  auto flat = std::make_shared<ValueImage>();
  dark->width = flat->width = dark->height = flat->height = 320;
  for (int p = 0; p < 320 * 320; ++p) {
    dark->values.push_back(static_cast<float>(p % 7));
    flat->values.push_back(static_cast<float>(0.8 + 0.4 * ((p * 37) % 101) / 100.0));
  }
  for (ByteOrder order : {ByteOrder::little, ByteOrder::big}) {
    std::vector<std::string> paths;
    std::vector<Image> decoded;
    std::vector<Mar345Header> headers;
    for (const Mar345Contents& c : images(order)) {
      paths.push_back(dir.file("image" + std::to_string(paths.size()) + ".mar2300"));
      const std::vector<std::uint8_t> bytes = write_mar345(c);
      write_bytes(paths.back(), bytes);
      headers.push_back(parse_mar345(bytes.data(), bytes.size()));
      decoded.emplace_back().decode(bytes.data(), headers.back());
    }
    for (const Case& c : cases()) {
      SCOPED_TRACE(c.name);
      ReductionRequest request;
      request.split = Split::none;
      request.run.statistic = c.statistic;
      request.corrections.solid_angle = c.corrected;
      if (c.corrected) {
        request.corrections.polarization = 0.95;
        request.corrections.dark = dark;
        request.corrections.flat = flat;
        request.run.low = 5;
        request.run.high = 60000;
        request.run.error_model =
            c.statistic == Statistic::mean ? ErrorModel::poisson : ErrorModel::azimuthal;
      }
      request.unit = c.unit;
      request.bins = c.bins;
      request.sector = c.sector;
      if (c.masked) request.mask = mask;
      request.geometry.tilt_deg = 3;
      request.geometry.tilt_direction_deg = 70;
      for (unsigned threads : {1u, 2u, 3u}) {
        SCOPED_TRACE(threads);
        FileReducer reducer(request, threads);
        std::size_t k = 0;
        reducer.run(paths, [&](const FileReduction& r) {
          const Plain plain = plain_reduction(
              decoded[k],
              plan_parameters(request, headers[k].size, headers[k].size, headers[k].geometry),
              request.run);
          EXPECT_EQ(r.error(), plain.error) << "image " << k;
          if (r.ok() && plain.error.empty()) expect_identical(r.profile, plain.profile);
          ++k;
        });
        EXPECT_EQ(k, paths.size());
      }
    }
  }
}

TEST(PlanExactness, ImagesWithoutUsablePixelsGetThePlainReductionsError) {
  TempDir dir;
  std::vector<std::uint16_t> low(32 * 32, 0);
  const std::string empty = dir.file("empty.mar1200");
  write_bytes(empty, write_mar345(small_contents(32, low)));
  low[5] = 7;
  const std::string one = dir.file("one.mar1200");
  write_bytes(one, write_mar345(small_contents(32, low)));
  ReductionRequest request;
  request.split = Split::none;
  FileReducer reducer(request);
  EXPECT_EQ(reducer.reduce(empty).error(),
            "no pixel left: every one is zero, masked or outside the sector");
  request.bins.low = 80;
  request.bins.high = 85;
  EXPECT_EQ(FileReducer(request).reduce(one).error(), "no pixel lies inside the range of the bins");
}

TEST(PlanExactness, AnImageOfAnotherSizeIsRefusedByThePlan) {
  const std::vector<std::uint16_t> low(16 * 16, 5);
  const std::vector<std::uint8_t> bytes = write_mar345(small_contents(16, low));
  Image image;
  image.decode(bytes.data(), parse_mar345(bytes.data(), bytes.size()));
  PlanParameters parameters;
  parameters.width = parameters.height = 20;
  parameters.geometry.distance_mm = 100;
  parameters.geometry.pixel_x_um = parameters.geometry.pixel_y_um = 100;
  const Plan plan(parameters);
  std::vector<Workspace> workspaces(1);
  try {
    reduce_image(plan, image, RunOptions{}, &workspaces);
    ADD_FAILURE() << "a 16 x 16 image was reduced with a 20 x 20 plan";
  } catch (const Error& e) {
    EXPECT_EQ(std::string(e.what()), "the image is 16 x 16 pixels, the plan's 20 x 20");
  }
}

}  // namespace
}  // namespace vokip
