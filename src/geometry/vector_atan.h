// Arc tangents of whole arrays, evaluated with the widest vectors the
// processor offers (SLEEF's 3.5-ulp functions: within 1e-15 radians of the
// exact value, far inside what the angle maps need), or, in a build without
// SLEEF (VOKIP_SLEEF=OFF), by the C library one element at a time.
#pragma once

#include <cstdint>

// values[i] = atan(values[i]) for i < count.
void atan_each(double* values, std::int64_t count);

// out[i] = atan2(y[i], x[i]) for i < count; out may be the same array as x or y.
void atan2_each(const double* y, const double* x, double* out, std::int64_t count);
