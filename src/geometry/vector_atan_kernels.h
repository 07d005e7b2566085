// One pair of arc tangent loops per instruction set, from SLEEF (where the
// build has it) and of the module's own (vector_atan_portable.h, in every
// build); vector_atan.cpp picks the widest that the processor supports.
#pragma once

#include <cstdint>

void atan_each_sse2(double* values, std::int64_t count);
void atan2_each_sse2(const double* y, const double* x, double* out, std::int64_t count);
void atan_each_avx(double* values, std::int64_t count);
void atan2_each_avx(const double* y, const double* x, double* out, std::int64_t count);
void atan_each_avx512(double* values, std::int64_t count);
void atan2_each_avx512(const double* y, const double* x, double* out, std::int64_t count);

void atan_each_portable_sse2(double* values, std::int64_t count);
void atan2_each_portable_sse2(const double* y, const double* x, double* out, std::int64_t count);
void atan_each_portable_avx2(double* values, std::int64_t count);
void atan2_each_portable_avx2(const double* y, const double* x, double* out, std::int64_t count);
void atan_each_portable_avx512(double* values, std::int64_t count);
void atan2_each_portable_avx512(const double* y, const double* x, double* out, std::int64_t count);
