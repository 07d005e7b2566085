// Every instruction set's arc tangent loops that this processor can run,
// against the standard library, for every tail length; the module's own
// loops (vector_atan_portable.h) also to within an ulp of the C library over
// dense grids, and at the special values exactly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
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

std::vector<Kernel> portable_kernels() {
  __builtin_cpu_init();
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  return {{"portable sse2", true, atan_each_portable_sse2, atan2_each_portable_sse2},
          {"portable avx2", avx2, atan_each_portable_avx2, atan2_each_portable_avx2},
          {"portable avx512", __builtin_cpu_supports("avx512f") != 0, atan_each_portable_avx512,
           atan2_each_portable_avx512}};
}

std::vector<Kernel> kernels() {
  std::vector<Kernel> all = portable_kernels();
#ifdef VOKIP_SLEEF
  all.push_back({"sse2", true, atan_each_sse2, atan2_each_sse2});
  all.push_back({"avx", __builtin_cpu_supports("avx") != 0, atan_each_avx, atan2_each_avx});
  all.push_back(
      {"avx512", __builtin_cpu_supports("avx512f") != 0, atan_each_avx512, atan2_each_avx512});
#endif
  all.push_back({"chosen", true, atan_each, atan2_each});
  return all;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double ulp_of(double v) {
  const double a = std::fabs(v);
  return std::nextafter(a, kInf) - a;
}

// Within 4 units in the last place of the correctly rounded value.
void expect_close(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what << " gave " << got;
    return;
  }
  EXPECT_NEAR(got, want, 4 * ulp_of(want)) << what;
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

// Magnitudes over every binade that matters, densely where the sectors of
// the reduction meet (tan(pi/8), 1, tan(3pi/8)), and at the ends of the range.
std::vector<double> dense_magnitudes() {
  std::vector<double> m = {
      0, 4.9e-324, 1e-310, 2.2250738585072014e-308, 1e-200, 1e200, 1.7976931348623157e308, kInf};
  for (int e = -60; e <= 60; ++e) {
    for (int k = 0; k < 64; ++k) m.push_back(std::ldexp(1 + k / 64.0, e));
  }
  for (double edge : {std::sqrt(2.0) - 1, 1.0, std::sqrt(2.0) + 1}) {  // tan(pi/8), tan(3pi/8)
    double below = edge, above = edge;
    for (int k = 0; k < 200; ++k) {
      m.push_back(below = std::nextafter(below, 0));
      m.push_back(above = std::nextafter(above, kInf));
    }
  }
  return m;
}

// Largest difference from the C library's double and from its long double
// (the exact value, closely enough) in units of the last place, and where;
// NaN, zeros and infinities must be the same, sign and all.
struct UlpMeter {
  double worst = 0, worst_exact = 0, worst_y = 0, worst_x = 0;
  void add(double got, double want, long double exact, double y, double x) {
    if (std::isnan(want) || want == 0 || std::isinf(want)) {
      const bool same = std::isnan(want) ? std::isnan(got)
                                         : got == want && std::signbit(got) == std::signbit(want);
      if (!same) worst = kInf, worst_y = y, worst_x = x;
      return;
    }
    const double ulps = std::fabs(got - want) / ulp_of(want);
    if (ulps > worst) worst = ulps, worst_y = y, worst_x = x;
    const double exact_ulps = static_cast<double>(std::fabs(got - exact)) / ulp_of(want);
    if (exact_ulps > worst_exact) worst_exact = exact_ulps;
  }
};

TEST(VectorAtan, PortableLoopsAreWithinAnUlpOfTheCLibrary) {
  const std::vector<double> m = dense_magnitudes();
  std::vector<double> y, x;
  auto add = [&](double a, double b) {  // in every quadrant, with both signs of zero
    for (int q = 0; q < 4; ++q) {
      y.push_back(q & 1 ? -a : a);
      x.push_back(q & 2 ? -b : b);
    }
  };
  // Every ratio of the dense set, at ordinary, huge and subnormal scales.
  for (double a : m) {
    for (double scale : {1.0, 0x1p1000, 0x1p-1070}) add(a * scale, scale), add(scale, a * scale);
  }
  for (std::size_t i = 0; i < m.size(); i += 37) {
    for (std::size_t j = 0; j < m.size(); j += 41) add(m[i], m[j]);
  }
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> exponent(-300, 300), mantissa(1, 2);
  for (int i = 0; i < 50000; ++i) {
    add(std::ldexp(mantissa(rng), exponent(rng)), std::ldexp(mantissa(rng), exponent(rng) / 100));
  }
  y.push_back(kNaN), x.push_back(1);
  y.push_back(kInf), x.push_back(kNaN);
  y.push_back(kNaN), x.push_back(-kInf);
  for (const Kernel& k : portable_kernels()) {
    if (!k.supported) continue;
    std::vector<double> a = y, b(y.size());
    k.atan(a.data(), a.size());
    k.atan2(y.data(), x.data(), b.data(), b.size());
    UlpMeter on_atan, on_atan2;
    for (std::size_t i = 0; i < y.size(); ++i) {
      on_atan.add(a[i], std::atan(y[i]), std::atan(static_cast<long double>(y[i])), y[i], 1);
      on_atan2.add(b[i], std::atan2(y[i], x[i]),
                   std::atan2(static_cast<long double>(y[i]), static_cast<long double>(x[i])), y[i],
                   x[i]);
    }
    EXPECT_LE(on_atan.worst, 1) << k.name << " atan(" << on_atan.worst_y << ")";
    EXPECT_LE(on_atan2.worst, 1) << k.name << " atan2(" << on_atan2.worst_y << ", "
                                 << on_atan2.worst_x << ")";
    // Off the exact value by the last addition's rounding and a little more.
    EXPECT_LE(on_atan.worst_exact, 0.75) << k.name;
    EXPECT_LE(on_atan2.worst_exact, 0.75) << k.name;
    std::printf("%s: atan %.3f ulp (C library), %.3f (exact); atan2 %.3f, %.3f\n", k.name,
                on_atan.worst, on_atan.worst_exact, on_atan2.worst, on_atan2.worst_exact);
    // The special values are exact: multiples of pi/4 correctly rounded.
    for (int i = 0; i < 4; ++i) {
      const double at_corner[] = {kInf, -kInf, 0.0, -0.0};
      for (double other : at_corner) {
        double got;
        k.atan2(&at_corner[i], &other, &got, 1);
        EXPECT_EQ(got, std::atan2(at_corner[i], other)) << k.name;
      }
    }
  }
}

}  // namespace
