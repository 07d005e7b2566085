#include "geometry/vector_atan.h"

#include "geometry/vector_atan_kernels.h"

namespace {

struct ArcTangents {
  void (*atan)(double* values, std::int64_t count);
  void (*atan2)(const double* y, const double* x, double* out, std::int64_t count);
};

// The widest loops this processor (and its operating system) can run.
ArcTangents widest_supported() {
  __builtin_cpu_init();
#ifdef VOKIP_SLEEF
  if (__builtin_cpu_supports("avx512f")) return {atan_each_avx512, atan2_each_avx512};
  if (__builtin_cpu_supports("avx")) return {atan_each_avx, atan2_each_avx};
  return {atan_each_sse2, atan2_each_sse2};
#else
  if (__builtin_cpu_supports("avx512f")) {
    return {atan_each_portable_avx512, atan2_each_portable_avx512};
  }
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    return {atan_each_portable_avx2, atan2_each_portable_avx2};
  }
  return {atan_each_portable_sse2, atan2_each_portable_sse2};
#endif
}

const ArcTangents& arc_tangents() {
  static const ArcTangents chosen = widest_supported();
  return chosen;
}

}  // namespace

void atan_each(double* values, std::int64_t count) {
  arc_tangents().atan(values, count);
}

void atan2_each(const double* y, const double* x, double* out, std::int64_t count) {
  arc_tangents().atan2(y, x, out, count);
}
