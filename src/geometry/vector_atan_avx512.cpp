// Eight lanes; compiled for AVX-512F and called only where the processor has it.
#include <immintrin.h>
#include <sleef.h>

#include "geometry/vector_atan_kernels.h"
#include "geometry/vector_atan_lanes.h"

namespace {

struct Avx512Lanes {
  static constexpr int width = 8;
  static __m512d load(const double* p) { return _mm512_loadu_pd(p); }
  static void store(double* p, __m512d v) { _mm512_storeu_pd(p, v); }
  static __m512d atan(__m512d v) { return Sleef_atand8_u35(v); }
  static __m512d atan2(__m512d y, __m512d x) { return Sleef_atan2d8_u35(y, x); }
};

}  // namespace

void atan_each_avx512(double* values, std::int64_t count) {
  atan_lanes<Avx512Lanes>(values, count);
}

void atan2_each_avx512(const double* y, const double* x, double* out, std::int64_t count) {
  atan2_lanes<Avx512Lanes>(y, x, out, count);
}
