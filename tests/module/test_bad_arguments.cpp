// Every procedure against every kind of argument a host user can pass: each
// numeric type in each position, scalars for arrays and arrays for scalars,
// arrays one element short, NaN and infinities. Nothing may crash or touch
// memory outside an array (the suite also runs under AddressSanitizer), only
// the documented lines may be printed, and results must reach the caller
// exactly when the output is the caller's own array of the required type.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "host/host.h"
#include "support/packer.h"

namespace {

using vokip_host::Mode;

constexpr int kNumericTypes[] = {IDL_TYP_BYTE,  IDL_TYP_INT,    IDL_TYP_LONG,
                                 IDL_TYP_FLOAT, IDL_TYP_DOUBLE, IDL_TYP_UINT,
                                 IDL_TYP_ULONG, IDL_TYP_LONG64, IDL_TYP_ULONG64};

struct Arg {
  int type;
  std::vector<double> values;
  std::vector<IDL_MEMINT> dims;  // empty: a scalar
  bool output = false;
};

struct Procedure {
  std::string name;
  std::vector<Arg> args;
  std::vector<std::string> texts;  // every line it may print, without "% NAME: "
};

const std::string kOutType =
    "Output argument is not an array of the required type; nothing was computed.";
const std::string kShort =
    "Input arrays are shorter than required; elements without input were not computed.";

std::vector<double> packed_stream() {
  const std::vector<std::uint16_t> image = {5, 9, 200, 7, 1000, 3, 3, 65535, 0, 12, 40, 41};
  const auto bytes = pack_image(image.data(), 12, 4);
  return std::vector<double>(bytes.begin(), bytes.end());
}

std::vector<Procedure> procedures() {
  const Arg image{IDL_TYP_UINT, std::vector<double>(12, 0), {4, 3}, true};
  const Arg map{IDL_TYP_DOUBLE, std::vector<double>(12, 0), {4, 3}, true};
  const Arg x{IDL_TYP_DOUBLE, {0, 1, 2, 3}, {4}};
  const Arg y{IDL_TYP_DOUBLE, {0, 2, 5}, {3}};
  const Arg keys{IDL_TYP_DOUBLE, {0, 1, 1, 2, 3, 4, 5, 6, 7, 9}, {10}};
  const Arg values{IDL_TYP_DOUBLE, {4, 6, 8, 1, 2, 9, 3, 3, 7, 10}, {10}};
  const Arg centres{IDL_TYP_DOUBLE, {1, 3, 5, 7}, {4}};
  const Arg bins{IDL_TYP_DOUBLE, {0, 0, 0, 0}, {4}, true};
  const Arg distance{IDL_TYP_DOUBLE, {0.01}, {}};
  const Arg tilt{IDL_TYP_DOUBLE, {10}, {}};
  const Arg rho{IDL_TYP_DOUBLE, {30}, {}};
  return {
      {"UNPCK",
       {{IDL_TYP_BYTE, packed_stream(), {static_cast<IDL_MEMINT>(packed_stream().size())}}, image},
       {"Welcome to MAR image plate unpck routine.", "Goodbye!.",
        "Packed stream ended before the image was complete.", kOutType}},
      {"DISTORTIMAGEPLATE",
       {distance, tilt, rho, x, y, map},
       {"Calculating image plate distortion.", kShort, kOutType}},
      {"AZIMUTHIMAGEPLATE", {y, x, map}, {"Calculating image plate azimuths.", kShort, kOutType}},
      {"INTEGRATE", {keys, values, centres, bins, bins, bins}, {kShort, kOutType}},
      {"INTEGRATE_MEDIAN", {keys, values, centres, bins, bins, bins}, {kShort, kOutType}},
  };
}

IDL_VPTR make(const Arg& a) {
  if (a.dims.empty()) return vokip_host::make_scalar(a.type, a.values.at(0));
  return vokip_host::make_array_from(a.type, a.values, a.dims);
}

struct Outcome {
  bool called;
  std::vector<std::string> lines;
  std::vector<std::vector<double>> outputs;  // values of every output argument after the call
};

Outcome run(const Procedure& p, const std::vector<Arg>& args) {
  vokip_host::clear_printed();
  std::vector<IDL_VPTR> vars;
  for (const Arg& a : args) vars.push_back(make(a));
  Outcome o;
  o.called = vokip_host::call(p.name, vars);
  o.lines = vokip_host::printed();
  for (std::size_t k = 0; k < args.size(); ++k)
    if (args[k].output) o.outputs.push_back(vokip_host::values(vars[k]));
  return o;
}

bool same_values(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const bool both_nan = std::isnan(a[k]) && std::isnan(b[k]);
    if (!both_nan && std::memcmp(&a[k], &b[k], sizeof(double)) != 0) return false;
  }
  return true;
}

class BadArguments : public ::testing::TestWithParam<Mode> {
 protected:
  void SetUp() override {
    vokip_host::reset(GetParam());
    ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  }

  // Only documented lines, each at most once, and the call itself accepted.
  void expect_documented(const Procedure& p, const Outcome& o, const std::string& what) {
    EXPECT_TRUE(o.called) << p.name << " " << what;
    std::set<std::string> allowed, seen;
    for (const auto& t : p.texts) allowed.insert("% " + p.name + ": " + t);
    for (const auto& line : o.lines) {
      EXPECT_EQ(allowed.count(line), 1u) << p.name << " " << what << ": " << line;
      EXPECT_TRUE(seen.insert(line).second) << p.name << " " << what << " repeats " << line;
    }
  }

  bool printed(const Procedure& p, const Outcome& o, const std::string& text) {
    const std::string line = "% " + p.name + ": " + text;
    for (const auto& l : o.lines)
      if (l == line) return true;
    return false;
  }
};

TEST_P(BadArguments, EveryNumericTypeInEveryPosition) {
  for (const Procedure& p : procedures()) {
    const Outcome base = run(p, p.args);
    expect_documented(p, base, "as documented");
    ASSERT_TRUE(base.lines.empty() || !printed(p, base, kOutType)) << p.name;
    for (std::size_t pos = 0; pos < p.args.size(); ++pos) {
      for (int type : kNumericTypes) {
        std::vector<Arg> args = p.args;
        args[pos].type = type;
        const std::string what =
            "argument " + std::to_string(pos) + " of type " + std::to_string(type);
        const Outcome o = run(p, args);
        expect_documented(p, o, what);
        if (type == p.args[pos].type) continue;
        if (p.args[pos].output) {
          // Results would land in a temporary: nothing is computed, the
          // caller's array keeps its (zero) contents, and the user is told.
          EXPECT_TRUE(printed(p, o, kOutType)) << p.name << " " << what;
          for (const auto& out : o.outputs) {
            for (double v : out) EXPECT_EQ(v, 0.0) << p.name << " " << what;
          }
        } else {
          // Inputs hold small whole numbers, which every type keeps exactly.
          EXPECT_FALSE(printed(p, o, kOutType)) << p.name << " " << what;
          ASSERT_EQ(o.outputs.size(), base.outputs.size());
          for (std::size_t k = 0; k < o.outputs.size(); ++k) {
            bool exact = true;
            for (double v : p.args[pos].values) exact = exact && v == std::floor(v) && v >= 0;
            if (exact) {
              EXPECT_TRUE(same_values(o.outputs[k], base.outputs[k])) << p.name << " " << what;
            }
          }
        }
      }
    }
  }
}

TEST_P(BadArguments, ScalarsForArraysAndArraysForScalars) {
  for (const Procedure& p : procedures()) {
    for (std::size_t pos = 0; pos < p.args.size(); ++pos) {
      for (int type : kNumericTypes) {
        std::vector<Arg> args = p.args;
        Arg& a = args[pos];
        a.type = type;
        std::string what;
        if (a.dims.empty()) {
          a.dims = {3};
          a.values = {a.values[0], 7, 8};  // an array where a scalar goes: its first element counts
          what = "array for scalar " + std::to_string(pos);
        } else {
          a.values = {a.values[0]};
          a.dims = {};
          what = "scalar for array " + std::to_string(pos);
        }
        what += " of type " + std::to_string(type);
        const Outcome o = run(p, args);
        expect_documented(p, o, what);
        const bool array_for_scalar = p.args[pos].dims.empty();
        if (array_for_scalar && type == IDL_TYP_DOUBLE) {
          EXPECT_TRUE(same_values(o.outputs[0], run(p, p.args).outputs[0]))
              << p.name << " " << what;
        }
      }
    }
  }
}

TEST_P(BadArguments, ArraysOneElementShort) {
  for (const Procedure& p : procedures()) {
    for (std::size_t pos = 0; pos < p.args.size(); ++pos) {
      if (p.args[pos].dims.empty() || p.args[pos].values.size() < 2) continue;
      std::vector<Arg> args = p.args;
      Arg& a = args[pos];
      a.values.pop_back();
      a.dims = {static_cast<IDL_MEMINT>(a.values.size())};
      const std::string what = "argument " + std::to_string(pos) + " one short";
      const Outcome o = run(p, args);
      expect_documented(p, o, what);
    }
  }
}

TEST_P(BadArguments, NanAndInfinitiesInEveryDoubleInput) {
  for (const Procedure& p : procedures()) {
    for (std::size_t pos = 0; pos < p.args.size(); ++pos) {
      if (p.args[pos].output || p.args[pos].type != IDL_TYP_DOUBLE) continue;
      for (double bad : {NAN, INFINITY, -INFINITY}) {
        for (std::size_t k = 0; k < p.args[pos].values.size(); ++k) {
          std::vector<Arg> args = p.args;
          args[pos].values[k] = bad;
          const Outcome o = run(p, args);
          expect_documented(p, o,
                            "argument " + std::to_string(pos) + " element " + std::to_string(k) +
                                " = " + std::to_string(bad));
        }
      }
    }
  }
}

TEST_P(BadArguments, BinsWithNoKeyGiveTheDocumentedValues) {
  const Procedure mean = procedures()[3];
  const Procedure median = procedures()[4];
  std::vector<Arg> args = mean.args;
  args[2].values = {100, 200, 300, 400};  // every key lies below the first bin
  const Outcome m = run(mean, args);
  expect_documented(mean, m, "empty bins");
  // The first bin takes in the last key below its edge; the others are empty.
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(m.outputs[0][i], 0.0);
    EXPECT_TRUE(std::signbit(m.outputs[1][i]));
    EXPECT_TRUE(std::isnan(m.outputs[2][i]));
  }
  const Outcome d = run(median, args);
  for (std::size_t i = 1; i < 4; ++i) {
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(std::isnan(d.outputs[k][i]));
  }
  EXPECT_EQ(m.outputs[0][0], 10.0);
  EXPECT_EQ(d.outputs[0][0], 10.0);
}

INSTANTIATE_TEST_SUITE_P(BothHosts, BadArguments, ::testing::Values(Mode::idl, Mode::open),
                         [](const auto& info) { return info.param == Mode::idl ? "idl" : "open"; });

}  // namespace
