// The calls that the Linux build's module tests made, replayed on this build
// (the DLL under wine) with the same arguments in the same host behaviour.
// Each must print the same lines and leave its arguments as the Linux build
// left them: 16-bit images bit for bit, angle maps within 1e-12 degree,
// profiles within 1e-12 relative (the arc tangents and the C library differ
// between the builds; nothing else may).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/call_log.h"

namespace {

using vokip_host::LoggedArgument;
using vokip_host::LoggedCall;

std::vector<std::string> call_logs() {
  std::vector<std::string> logs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(VOKIP_LINUX_CALL_LOGS, error)) {
    if (entry.path().extension() == ".calls") logs.push_back(entry.path().stem().string());
  }
  std::sort(logs.begin(), logs.end());
  return logs;
}

// What was compared, and the largest deviations seen, for the closing summary.
struct Deviations {
  long long calls = 0, pixels = 0, angles = 0, profile_values = 0;
  double angle = 0, profile = 0;
} seen;

std::vector<double> doubles(const std::string& bytes) {
  std::vector<double> v(bytes.size() / sizeof(double));
  std::memcpy(v.data(), bytes.data(), v.size() * sizeof(double));
  return v;
}

// Same value as Linux gave, up to the tolerance; NaN for NaN; zeros of the same sign.
bool agrees(double got, double want, double tolerance) {
  if (std::isnan(want) || std::isnan(got)) return std::isnan(want) && std::isnan(got);
  if (want == 0 || std::isinf(want)) return got == want && std::signbit(got) == std::signbit(want);
  return std::fabs(got - want) <= tolerance;
}

void expect_same_results(const LoggedCall& call, std::size_t k, const LoggedArgument& linux_arg,
                         IDL_VPTR here, const std::string& where) {
  const std::string got(static_cast<const char*>(vokip_host::data(here)), linux_arg.after.size());
  if (linux_arg.type != IDL_TYP_DOUBLE) {
    EXPECT_TRUE(got == linux_arg.after) << where << " argument " << k << " differs";
    if (call.name == "UNPCK" && linux_arg.type == IDL_TYP_UINT) seen.pixels += got.size() / 2;
    return;
  }
  const bool angles = call.name == "DISTORTIMAGEPLATE" || call.name == "AZIMUTHIMAGEPLATE";
  const std::vector<double> g = doubles(got), w = doubles(linux_arg.after);
  int reported = 0;
  for (std::size_t i = 0; i < w.size(); ++i) {
    const double tolerance = angles ? 1e-12 : 1e-12 * std::fabs(w[i]);
    if (!agrees(g[i], w[i], tolerance) && reported++ < 5) {
      ADD_FAILURE() << where << " argument " << k << " element " << i << ": " << g[i] << " here, "
                    << w[i] << " on Linux";
    }
    if (std::isfinite(w[i]) && std::isfinite(g[i]) && w[i] != 0) {
      if (angles) {
        seen.angle = std::max(seen.angle, std::fabs(g[i] - w[i]));
      } else {
        seen.profile = std::max(seen.profile, std::fabs(g[i] - w[i]) / std::fabs(w[i]));
      }
    }
  }
  (angles ? seen.angles : seen.profile_values) += static_cast<long long>(w.size());
}

// Replays one log; each call on a host started afresh in the call's behaviour.
void replay(const std::string& log) {
  const std::string path = std::string(VOKIP_LINUX_CALL_LOGS) + "/" + log + ".calls";
  const std::vector<LoggedCall> calls = vokip_host::read_call_log(path);
  EXPECT_FALSE(calls.empty()) << path;
  for (std::size_t c = 0; c < calls.size(); ++c) {
    const LoggedCall& call = calls[c];
    const std::string where = log + " call " + std::to_string(c) + " " + call.name;
    vokip_host::reset(call.mode);
    ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
    const std::vector<IDL_VPTR> args = vokip_host::make_logged_arguments(call);
    vokip_host::clear_printed();
    EXPECT_TRUE(vokip_host::call(call.name, args)) << where;
    EXPECT_EQ(vokip_host::printed(), call.lines) << where;
    for (std::size_t k = 0; k < args.size(); ++k) {
      expect_same_results(call, k, call.arguments[k], args[k], where);
    }
    ++seen.calls;
  }
}

TEST(LinuxCalls, ReplayedHereGiveTheSameLinesAndResults) {
  const std::vector<std::string> logs = call_logs();
  ASSERT_FALSE(logs.empty()) << "no call logs in " << VOKIP_LINUX_CALL_LOGS;
  for (const std::string& log : logs) replay(log);
  std::printf(
      "%lld calls from %zu test programs: %lld pixels, %lld angles (largest difference "
      "%.3g degree), %lld profile values (largest relative difference %.3g)\n",
      seen.calls, logs.size(), seen.pixels, seen.angles, seen.angle, seen.profile_values,
      seen.profile);
  EXPECT_GT(seen.pixels, 0);
  EXPECT_GT(seen.angles, 0);
  EXPECT_GT(seen.profile_values, 0);
}

}  // namespace
