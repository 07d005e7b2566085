// Two lanes: every x86-64 processor has SSE2.
#include <emmintrin.h>
#include <sleef.h>

#include "geometry/vector_atan_kernels.h"
#include "geometry/vector_atan_lanes.h"

namespace {

struct Sse2Lanes {
  static constexpr int width = 2;
  static __m128d load(const double* p) { return _mm_loadu_pd(p); }
  static void store(double* p, __m128d v) { _mm_storeu_pd(p, v); }
  static __m128d atan(__m128d v) { return Sleef_atand2_u35(v); }
  static __m128d atan2(__m128d y, __m128d x) { return Sleef_atan2d2_u35(y, x); }
};

}  // namespace

void atan_each_sse2(double* values, std::int64_t count) {
  atan_lanes<Sse2Lanes>(values, count);
}

void atan2_each_sse2(const double* y, const double* x, double* out, std::int64_t count) {
  atan2_lanes<Sse2Lanes>(y, x, out, count);
}
