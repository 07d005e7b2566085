// Every instruction set's arc tangent loops that this processor can run,
// against the standard library, for every tail length.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geometry/vector_atan.h"
#include "geometry/vector_atan_kernels.h"

namespace {

struct Kernel {
  const char* name;
  bool supported;
  void (*atan)(double*, std::int64_t);
  void (*atan2)(const double*, const double*, double*, std::int64_t);
};

std::vector<Kernel> kernels() {
  __builtin_cpu_init();
  return {{"sse2", true, atan_each_sse2, atan2_each_sse2},
          {"avx", __builtin_cpu_supports("avx") != 0, atan_each_avx, atan2_each_avx},
          {"avx512", __builtin_cpu_supports("avx512f") != 0, atan_each_avx512, atan2_each_avx512},
          {"chosen", true, atan_each, atan2_each}};
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Within 4 units in the last place of the correctly rounded value.
void expect_close(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what << " gave " << got;
    return;
  }
  const double ulp = std::nextafter(std::fabs(want), kInf) - std::fabs(want);
  EXPECT_NEAR(got, want, 4 * ulp) << what;
}

std::vector<double> arguments(std::int64_t count, std::mt19937_64* rng) {
  static const double special[] = {0.0, -0.0, kInf, -kInf, kNaN, 1e-300, 1e300, 1, -1};
  std::uniform_real_distribution<double> exponent(-8, 8), sign(-1, 1);
  std::vector<double> v(count);
  for (std::int64_t i = 0; i < count; ++i) {
    v[i] = (*rng)() % 5 == 0 ? special[(*rng)() % 9]
                             : std::copysign(std::pow(10, exponent(*rng)), sign(*rng));
  }
  return v;
}

TEST(VectorAtan, MatchesTheStandardLibraryForEveryLength) {
  std::mt19937_64 rng(5);
  for (const Kernel& k : kernels()) {
    if (!k.supported) continue;
    for (std::int64_t count = 0; count <= 19; ++count) {
      const std::vector<double> y = arguments(count, &rng), x = arguments(count, &rng);
      std::vector<double> a = y;  // exactly sized: the tails must not overrun
      k.atan(a.data(), count);
      std::vector<double> b(count);
      k.atan2(y.data(), x.data(), b.data(), count);
      for (std::int64_t i = 0; i < count; ++i) {
        const std::string at = std::string(k.name) + " count " + std::to_string(count) +
                               " element " + std::to_string(i) + " y " + std::to_string(y[i]) +
                               " x " + std::to_string(x[i]);
        expect_close(a[i], std::atan(y[i]), "atan " + at);
        expect_close(b[i], std::atan2(y[i], x[i]), "atan2 " + at);
      }
    }
  }
}

TEST(VectorAtan, Atan2MayWriteOverItsArguments) {
  for (const Kernel& k : kernels()) {
    if (!k.supported) continue;
    const std::vector<double> y = {1, -1, 2, 0.5, -3, 7, 1e-3, -2, 4, 9, 1};
    std::vector<double> x = {1, 1, -2, -0.5, -3, 1, 5, -1e-3, 0.25, -9, -1};
    const std::vector<double> x_before = x;
    k.atan2(y.data(), x.data(), x.data(), x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      expect_close(x[i], std::atan2(y[i], x_before[i]), std::string(k.name) + " in place");
    }
  }
}

}  // namespace
