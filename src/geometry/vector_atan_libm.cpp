// vector_atan.h from the C library's functions, one element at a time, for
// builds without SLEEF.
#include <cmath>

#include "geometry/vector_atan.h"

void atan_each(double* values, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) values[i] = std::atan(values[i]);
}

void atan2_each(const double* y, const double* x, double* out, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) out[i] = std::atan2(y[i], x[i]);
}
