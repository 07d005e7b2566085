#include "integrate/bin_scanner.h"

bin_scanner::bin_scanner(const double* keys, std::int64_t n, const double* centres, std::int64_t m)
    : keys_(keys), n_(n), centres_(centres), m_(m) {}

std::int64_t bin_scanner::first_not_below(double edge, std::int64_t from) const {
  std::int64_t j = from;
  while (j < n_ && edge > keys_[j]) ++j;
  return j;
}

std::int64_t bin_scanner::first_nan(std::int64_t from) const {
  std::int64_t j = from;
  while (j < n_ && keys_[j] == keys_[j]) ++j;
  return j;
}

double bin_scanner::lower_edge() const {
  const double spacing = centres_[1] - centres_[0];
  return centres_[0] - spacing * 0.5;
}

double bin_scanner::upper_edge(std::int64_t i) const {
  if (i + 1 < m_) return (centres_[i] + centres_[i + 1]) * 0.5;
  const double last = centres_[m_ - 1];
  const double spacing = last - centres_[m_ - 2];
  return last + spacing * 0.5;
}

BinRange bin_scanner::next_bin(std::int64_t i) {
  // A single centre has no spacing: it takes every key up to the first NaN.
  if (m_ == 1) {
    j_ = first_nan(0);
    return {0, j_};
  }
  std::int64_t lo = j_;
  if (i == 0) {
    const double lower = lower_edge();
    // Keys below the lower edge: the bin takes in the last of them.
    if (n_ > 0 && lower > keys_[0]) {
      j_ = first_not_below(lower, 1);
      lo = j_ - 1;
    }
  }
  j_ = first_not_below(upper_edge(i), j_);
  return {lo, j_};
}
