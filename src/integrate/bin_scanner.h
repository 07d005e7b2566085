// The partition of ascending keys into bins around ascending centres, found in
// one forward scan: every bin is a run of consecutive keys.
#pragma once

#include <cstdint>

struct BinRange {
  std::int64_t lo, end;  // members lo .. end-1
};

class bin_scanner {
 public:
  // n keys, m centres. Nothing is read until next_bin.
  bin_scanner(const double* keys, std::int64_t n, const double* centres, std::int64_t m);

  // The members of bin i. Called for i = 0, 1, ..., m-1 in this order, once each.
  BinRange next_bin(std::int64_t i);

  // The edges the scan uses, for m >= 2: half a centre spacing below the
  // first centre, and bin i's upper edge (the midpoint to the next centre;
  // the last bin mirrors its lower half-spacing).
  double lower_edge() const;
  double upper_edge(std::int64_t i) const;

 private:
  // First index from `from` on whose key is not below the edge (edge > key
  // fails, as it does for a NaN key), or n.
  std::int64_t first_not_below(double edge, std::int64_t from) const;
  // First index from `from` on whose key is NaN, or n.
  std::int64_t first_nan(std::int64_t from) const;

  const double* keys_;
  std::int64_t n_;
  const double* centres_;
  std::int64_t m_;
  std::int64_t j_ = 0;  // scan position: where the previous bin ended
};
