// The loops behind vector_atan.h, written once for any vector width. Each
// instruction set's file instantiates them with its own Lanes type:
//   static constexpr int width;  V load(const double*);  void store(double*, V);
//   V atan(V);  V atan2(V y, V x);
// The files are compiled for different processors, so everything here must
// stay private to the file that includes it (no shared inline functions).
#pragma once

#include <cstdint>

namespace {

template <class Lanes>
void atan_lanes(double* values, std::int64_t count) {
  constexpr int width = Lanes::width;
  std::int64_t i = 0;
  for (; i + width <= count; i += width) {
    Lanes::store(values + i, Lanes::atan(Lanes::load(values + i)));
  }
  // The last partial vector goes through a full-width copy, so nothing past
  // the end of the array is read or written.
  const std::int64_t rest = count - i;
  if (rest > 0) {
    double tail[width] = {};
    for (std::int64_t k = 0; k < rest; ++k) tail[k] = values[i + k];
    Lanes::store(tail, Lanes::atan(Lanes::load(tail)));
    for (std::int64_t k = 0; k < rest; ++k) values[i + k] = tail[k];
  }
}

template <class Lanes>
void atan2_lanes(const double* y, const double* x, double* out, std::int64_t count) {
  constexpr int width = Lanes::width;
  std::int64_t i = 0;
  for (; i + width <= count; i += width) {
    Lanes::store(out + i, Lanes::atan2(Lanes::load(y + i), Lanes::load(x + i)));
  }
  const std::int64_t rest = count - i;
  if (rest > 0) {
    double tail_y[width] = {}, tail_x[width] = {};
    for (std::int64_t k = 0; k < rest; ++k) {
      tail_y[k] = y[i + k];
      tail_x[k] = x[i + k];
    }
    Lanes::store(tail_y, Lanes::atan2(Lanes::load(tail_y), Lanes::load(tail_x)));
    for (std::int64_t k = 0; k < rest; ++k) out[i + k] = tail_y[k];
  }
}

}  // namespace
