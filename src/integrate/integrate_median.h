// Per-bin median, variance about the median and mean absolute deviation about
// the median of values ordered by ascending keys, with GSL's statistics.
#pragma once

#include <cstdint>

// n keys with a value each, m ascending centres. Bins 0 .. bins-1 (bins <= m)
// are computed; an empty bin gets NaN in all three outputs. Returns false when
// a working vector could not be allocated: that bin and all later ones get NaN.
bool integrate_median(const double* keys, std::int64_t n, const double* values,
                      const double* centres, std::int64_t m, double* median, double* variance,
                      double* absdev, std::int64_t bins);
