// Four lanes; compiled for AVX and called only where the processor has it.
#include <immintrin.h>
#include <sleef.h>

#include "geometry/vector_atan_kernels.h"
#include "geometry/vector_atan_lanes.h"

namespace {

struct AvxLanes {
  static constexpr int width = 4;
  static __m256d load(const double* p) { return _mm256_loadu_pd(p); }
  static void store(double* p, __m256d v) { _mm256_storeu_pd(p, v); }
  static __m256d atan(__m256d v) { return Sleef_atand4_u35(v); }
  static __m256d atan2(__m256d y, __m256d x) { return Sleef_atan2d4_u35(y, x); }
};

}  // namespace

void atan_each_avx(double* values, std::int64_t count) {
  atan_lanes<AvxLanes>(values, count);
}

void atan2_each_avx(const double* y, const double* x, double* out, std::int64_t count) {
  atan2_lanes<AvxLanes>(y, x, out, count);
}
