// What a bin's statistics are made from: sums over its pixels, each counted
// with the share f of it in the bin (1 without splitting), of its signal s
// = raw - dark, its normalisation n = flat x solid angle x polarization
// and its counting variance raw + dark. The mean is the sum of signals over
// the sum of normalisations; its spread is the weighted spread of the
// corrected values v = s / n, weights f x n.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vokip {

struct BinSum {
  // Sums kept side by side in vectors, so that a pixel's share is added to
  // a bin in two stores rather than six: the sums of f x (1, s, n, s v) and
  // of f^2 x (n^2, raw + dark).
  using Four = double __attribute__((vector_size(32)));
  using Two = double __attribute__((vector_size(16)));
  Four linear = {0, 0, 0, 0};
  Two quadratic = {0, 0};

  double share() const { return linear[0]; }           // sum of f
  double signal() const { return linear[1]; }          // sum of f s
  double norm() const { return linear[2]; }            // sum of f n: the weights
  double square() const { return linear[3]; }          // sum of f n v^2 = f s v
  double norm_square() const { return quadratic[0]; }  // sum of (f n)^2
  double counts() const { return quadratic[1]; }       // sum of f^2 (raw + dark)

  // A pixel's terms, made once for all of its shares.
  struct Terms {
    Four linear;    // 1, s, n, s v
    Two quadratic;  // n^2, raw + dark
  };
  static Terms terms(double s, double n, double v, double raw_and_dark) {
    return {Four{1, s, n, s * v}, Two{n * n, raw_and_dark}};
  }

  void add(double f, const Terms& t) {
    linear += f * t.linear;
    quadratic += (f * f) * t.quadratic;
  }
  // One pixel's share (the pixel-centre path: its terms as it adds them,
  // which compiles to registers there).
  void add(double f, double s, double n, double v, double raw_and_dark) {
    linear += f * Four{1, s, n, s * v};
    quadratic += (f * f) * Two{n * n, raw_and_dark};
  }

  void add(const BinSum& o) {
    linear += o.linear;
    quadratic += o.quadratic;
  }

  double mean() const { return signal() / norm(); }

  // The weighted variance of the corrected values about the mean, with
  // weights taken as reliabilities (for equal weights the sample variance);
  // 0 for one pixel's, as the module's mean gives it.
  double variance() const {
    const double m = mean();
    const double reliability = norm() - norm_square() / norm();
    return reliability > 0 ? std::max(square() - norm() * m * m, 0.0) / reliability : 0.0;
  }

  // The dispersion: the sum of weight x (v - mean)^2 over the mean.
  double dispersion() const {
    const double m = mean();
    return std::max(square() - norm() * m * m, 0.0) / m;
  }

  // The standard error of a weighted mean of values of the variance:
  // sqrt(variance / n), n = (sum of weights)^2 / sum of weight^2.
  double standard_error(double variance) const {
    return std::sqrt(variance / (norm() * norm() / norm_square()));
  }

  // The counting statistics' standard error of the mean.
  double counting_error() const { return std::sqrt(counts()) / norm(); }
};

// One share of a pixel in a bin (or cell), for medians.
struct Share {
  std::size_t bin;
  double value;  // the corrected value
  double share, norm, counts;
};

// The weighted median of a bin's shares and its statistics: the value
// where the cumulative share reaches half the total (between two values
// when it reaches half exactly at one, as the median of an even number of
// equal weights), the variance and mean absolute deviation about it, the
// standard error of a mean of such weights, and the counting error.
struct Median {
  double count = 0, value = 0, variance = 0, spread = 0, standard_error = 0, counting_error = 0;
};

// The value where the cumulative share of the values, in ascending order,
// reaches half their total; between two values when it reaches half exactly
// at one. Found by partitioning around pivots, as a selection, rather than
// by sorting; the order of the values is changed.
inline double weighted_median_value(Share* begin, Share* end, double total) {
  auto by_value = [](const Share& a, const Share& b) { return a.value < b.value; };
  auto share_of = [](const Share* from, const Share* to) {
    double sum = 0;
    for (const Share* s = from; s != to; ++s) sum += s->share;
    return sum;
  };
  double below = 0;  // the shares of values known to lie below those left
  for (;;) {
    if (end - begin <= 32) {
      std::sort(begin, end, by_value);
      for (const Share* s = begin; s != end; ++s) {
        below += s->share;
        if (below * 2 < total) continue;
        return below * 2 == total && s + 1 != end ? (s->value + s[1].value) / 2 : s->value;
      }
      return end[-1].value;
    }
    double three[3] = {begin->value, begin[(end - begin) / 2].value, end[-1].value};
    std::sort(three, three + 3);
    const double pivot = three[1];
    Share* low_end = std::partition(begin, end, [&](const Share& s) { return s.value < pivot; });
    Share* equal_end =
        std::partition(low_end, end, [&](const Share& s) { return s.value == pivot; });
    const double low = share_of(begin, low_end), equal = share_of(low_end, equal_end);
    if ((below + low) * 2 >= total && low_end != begin) {
      if ((below + low) * 2 == total) {
        return (std::max_element(begin, low_end, by_value)->value + pivot) / 2;
      }
      end = low_end;
    } else if ((below + low + equal) * 2 >= total) {
      if ((below + low + equal) * 2 == total && equal_end != end) {
        return (pivot + std::min_element(equal_end, end, by_value)->value) / 2;
      }
      return pivot;
    } else {
      below += low + equal;
      begin = equal_end;
    }
  }
}

inline Median weighted_median(Share* begin, Share* end) {
  Median m;
  double norm = 0, share_squares = 0, counts = 0;
  for (const Share* s = begin; s != end; ++s) {
    m.count += s->share;
    norm += s->share * s->norm;
    share_squares += s->share * s->share;
    counts += s->share * s->share * s->counts;
  }
  m.value = weighted_median_value(begin, end, m.count);
  for (const Share* s = begin; s != end; ++s) {
    const double d = s->value - m.value;
    m.variance += s->share * d * d;
    m.spread += s->share * std::fabs(d);
  }
  m.variance /= m.count;
  m.spread /= m.count;
  m.standard_error = std::sqrt(m.variance * share_squares) / m.count;
  m.counting_error = std::sqrt(counts) / norm;
  return m;
}

}  // namespace vokip
