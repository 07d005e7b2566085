// Per-bin running mean, sample variance and dispersion of values ordered by
// ascending keys.
#pragma once

#include <cstdint>

// n keys with a value each, m ascending centres. Bins 0 .. bins-1 (bins <= m)
// are computed. The prior contents of mean and variance enter the results:
// the caller passes them zero-filled.
void integrate_mean(const double* keys, std::int64_t n, const double* values, const double* centres,
                    std::int64_t m, double* mean, double* variance, double* dispersion,
                    std::int64_t bins);
