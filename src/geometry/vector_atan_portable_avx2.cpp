// Four lanes; compiled for AVX2 and FMA and called only where the processor has both.
#include "geometry/vector_atan_kernels.h"
#include "geometry/vector_atan_portable.h"

void atan_each_portable_avx2(double* values, std::int64_t count) {
  portable_atan::atan_each(values, count);
}

void atan2_each_portable_avx2(const double* y, const double* x, double* out, std::int64_t count) {
  portable_atan::atan2_each(y, x, out, count);
}
