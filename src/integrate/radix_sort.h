// Ascending sort of doubles by their bit patterns, in linear time.
#pragma once

#include <cstddef>

// Sorts data[0 .. n-1] ascending; scratch must hold n doubles. The order is
// that of the IEEE values with -0 before +0; NaNs go to an end by their sign.
void radix_sort(double* data, double* scratch, std::size_t n);
