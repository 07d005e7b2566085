// Arc tangents of the module's own, for builds without SLEEF: plain loops
// without branches that the compiler turns into vector code for whatever
// instruction set the including file is compiled for (vector_atan_portable_*.cpp).
//
// atan2(y, x) is reduced to one sector of the first octant's three:
//   |y| <= tan(pi/8)|x|          atan(|y| / |x|)
//   |y| >= tan(3pi/8)|x|         pi/2 + atan(-|x| / |y|)
//   between                      pi/4 + atan((|y| - |x|) / (|y| + |x|))
// so that the argument t of the polynomial lies within +-tan(pi/8), then
// mirrored to x < 0 (pi minus the angle) and given the sign of y; atan(x)
// takes the same steps for (1, x). One division per element; its rounding, and that of the
// sector's sum and difference, are carried as a correction t_lo, and the
// sector's angle is added in two parts, so the result is about as close as
// the rounding of the last addition allows (within 0.7 ulp).
//
// The compiler's own fabs, copysign and fma: mingw-w64's math.h defines
// copysign inline through a union, which does not vectorise.
//
// Like vector_atan_lanes.h, everything here stays private to the file that
// includes it: each such file is compiled for a different processor.
#pragma once

#include <cstdint>
#include <limits>

namespace {
namespace portable_atan {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTanPi8 = 0x1.a827999fcef32p-2;
// pi/4 as a double (of 50 significant bits: its multiples up to 4 are exact)
// and the rest.
constexpr double kPi4 = 0x1.921fb54442d18p-1, kPi4Lo = 0x1.1a62633145c07p-55;

// atan(t) = t + t·z·Q(z), z = t², for |t| <= tan(pi/8): Q is the minimax
// polynomial of degree 10 for (atan(t) - t) / t³ on z in [0, 0.1716]
// (atan_polynomial.py); it is off by at most 0.06·2^-53 of t.
inline double atan_polynomial(double z) {
  double q = -0.019225871517799305;
  q = q * z + 0.03927382469178058;
  q = q * z - 0.050869925400655526;
  q = q * z + 0.05858461471545295;
  q = q * z - 0.06664549718486833;
  q = q * z + 0.0769218609160612;
  q = q * z - 0.09090904712003064;
  q = q * z + 0.11111111018806345;
  q = q * z - 0.14285714284714363;
  q = q * z + 0.1999999999999577;
  return q * z - 0.3333333333333333;
}

// a + b = sum + two_sum_error(a, b, sum) exactly, sum the rounded a + b.
inline double two_sum_error(double a, double b, double sum) {
  const double b_part = sum - a;
  return (a - (sum - b_part)) + (b - b_part);
}

// n - t·d, rounded once. |t| < 1 and d lies in [2^-880, 2^830].
inline double residual(double n, double t, double d) {
#ifdef __FMA__
  return __builtin_fma(-t, d, n);
#else
  // Dekker's exact product from halves of 26 bits, for processors without FMA.
  constexpr double kSplit = 0x1p27 + 1;
  const double tc = kSplit * t, dc = kSplit * d;
  const double t_hi = tc - (tc - t), t_lo = t - t_hi;
  const double d_hi = dc - (dc - d), d_lo = d - d_hi;
  const double p = t * d;
  const double p_err = ((t_hi * d_hi - p) + t_hi * d_lo + t_lo * d_hi) + t_lo * d_lo;
  return (n - p) - p_err;
#endif
}

// The reduced argument t + t_lo = atan of the angle of (u, v) less
// sector·pi/4, for u, v >= 0, not both 0, the larger in [2^-880, 2^830].
struct Reduced {
  double t, t_lo, sector;
};

inline Reduced reduce(double u, double v) {
  // Both tests multiply by tan(pi/8) < 1: nothing overflows.
  const bool low = v <= kTanPi8 * u, high = kTanPi8 * v >= u, middle = !low && !high;
  const double difference = v - u, sum = v + u;
  const double n = low ? v : (high ? -u : difference);
  const double d = low ? u : (high ? v : sum);
  // Everything is computed in every lane and only chosen from: arithmetic
  // under a condition would keep the loops from vectorising.
  const double difference_err = two_sum_error(v, -u, difference);
  const double sum_err = two_sum_error(v, u, sum);
  const double n_lo = middle ? difference_err : 0.0;
  const double d_lo = middle ? sum_err : 0.0;
  const double reciprocal = 1.0 / d;
  const double t = n * reciprocal;
  // t + t_lo = (n + n_lo) / (d + d_lo) to about 2^-100 relative.
  const double t_lo = (residual(n, t, d) + n_lo - t * d_lo) * reciprocal;
  return {t, t_lo, (low ? 0.0 : 1.0) + (high ? 1.0 : 0.0)};
}

// k·pi/4 + sign·atan(t + t_lo), sign = ±1, k an integer 0 to 4.
inline double angle(const Reduced& r, double k, double sign) {
  // atan(t + t_lo) = t + tail; t_lo is carried through 1 / (1 + z) to 0.5 %.
  const double z = r.t * r.t;
  const double tail = r.t * z * atan_polynomial(z) + r.t_lo * (1 - z + z * z);
  const double base = k * kPi4;  // exact
  const double lead = sign * r.t;
  const double rest = sign * tail + k * kPi4Lo;
  // base + lead exactly as angle_hi + angle_err (|base| >= |lead| or base = 0).
  const double angle_hi = base + lead;
  const double angle_err = (base - angle_hi) + lead;
  return angle_hi + (angle_err + rest);
}

// one is 1, hidden from the compiler: seeing a constant there, it would
// compute each sector's path separately and keep one of them.
inline double arc_tangent(double x, double one) {
  // Beyond 2^600 the angle is pi/2 to the last bit; infinities are too. A
  // NaN stays one (the comparison fails) and goes through to the result.
  const double ax = __builtin_fabs(x);
  const double v = 0x1p600 < ax ? 0x1p600 : ax;
  const Reduced r = reduce(one, v);
  return __builtin_copysign(angle(r, r.sector, 1.0), x);
}

inline double arc_tangent2(double y, double x) {
  const double ax = __builtin_fabs(x), ay = __builtin_fabs(y);
  // An infinity is the limit it stands for: the diagonal when both are
  // infinite, the axis when one is (the other coordinate becomes 0, or stays
  // NaN: 0·NaN). (0, 0) lies on the x axis. A NaN goes through every step
  // below to the result.
  const bool x_infinite = ax == kInf, y_infinite = ay == kInf;
  double u = x_infinite ? 1.0 : ax;
  double v = y_infinite ? 1.0 : ay;
  u = y_infinite > x_infinite ? u * 0.0 : u;
  v = x_infinite > y_infinite ? v * 0.0 : v;
  const double larger = u < v ? v : u;
  u = larger == 0 ? 1.0 : u;
  // Scaled by a power of 2 (exactly) into a range where u + v, 1 / (u + v)
  // and the split in residual() stay finite and normal.
  // (A product of two choices: a choice of three becomes products under
  // conditions, which cost more.)
  const double scale = (larger > 0x1p900 ? 0x1p-200 : 1.0) * (larger < 0x1p-900 ? 0x1p200 : 1.0);
  const Reduced r = reduce(u * scale, v * scale);
  // Left of the y axis (x < 0 or -0) the angle is pi less the sector's:
  // k = 4 - sector and atan(t) negated.
  const double sign = __builtin_copysign(1.0, x);
  return __builtin_copysign(angle(r, 2 - sign * (2 - r.sector), sign), y);
}

inline void atan_each(double* values, std::int64_t count) {
  double one = 1.0;
  __asm__("" : "+x"(one));
  for (std::int64_t i = 0; i < count; ++i) values[i] = arc_tangent(values[i], one);
}

inline void atan2_each(const double* y, const double* x, double* out, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) out[i] = arc_tangent2(y[i], x[i]);
}

}  // namespace portable_atan
}  // namespace
