#include "integrate/radix_sort.h"

void radix_sort(double* data, double* scratch, std::size_t n) {
  radix_sort_by_key(data, scratch, n, ordered_bits);
}
