#include "integrate/integrate_mean.h"

#include <algorithm>

#include "integrate/bin_scanner.h"

namespace {

// Bins computed side by side. Every bin keeps its own sequence of steps, so
// the results are those of one bin at a time; interleaving only lets the
// divisions and additions of different bins overlap.
constexpr int kLanes = 16;

std::int64_t member_count(const BinRange& bin) {
  return bin.end - bin.lo;
}

// Step k (from 1) of the running mean: M + (v - M) / k.
double mean_step(double running_mean, double v, double k) {
  return running_mean + (v - running_mean) / k;
}

double square_step(double squares, double mean, double v) {
  const double deviation = mean - v;
  return squares + deviation * deviation;
}

// A copy for AVX processors beside the default one, chosen when the library
// is loaded; that choice needs the ELF loader (ifunc), so a Windows DLL has
// the default copy only.
#ifdef __ELF__
#define VOKIP_AVX_CLONE __attribute__((target_clones("avx", "default")))
#else
#define VOKIP_AVX_CLONE
#endif

// Running means, and sums of squares about them, of kLanes bins at once; mean
// and squares hold the prior contents on entry. Up to the shortest bin all
// lanes step together, then each lane finishes alone. The divisions set the
// speed: where the processor has AVX, a copy built for it divides four lanes
// per instruction. Neither copy fuses a multiply into an add, so both round
// every step alike and give the same bits.
VOKIP_AVX_CLONE void accumulate_lanes(const double* values, const BinRange* bin, double* mean,
                                      double* squares) {
  std::int64_t shortest = member_count(bin[0]);
  for (int g = 1; g < kLanes; ++g) shortest = std::min(shortest, member_count(bin[g]));

  double m[kLanes], s[kLanes];
  const double* v[kLanes];
  for (int g = 0; g < kLanes; ++g) {
    m[g] = mean[g];
    s[g] = squares[g];
    v[g] = values + bin[g].lo;
  }
  for (std::int64_t k = 1; k <= shortest; ++k) {
    const double step = static_cast<double>(k);
    for (int g = 0; g < kLanes; ++g) m[g] = mean_step(m[g], v[g][k - 1], step);
  }
  for (int g = 0; g < kLanes; ++g) {
    for (std::int64_t k = shortest + 1; k <= member_count(bin[g]); ++k) {
      m[g] = mean_step(m[g], v[g][k - 1], static_cast<double>(k));
    }
  }
  for (std::int64_t k = 0; k < shortest; ++k) {
    for (int g = 0; g < kLanes; ++g) s[g] = square_step(s[g], m[g], v[g][k]);
  }
  for (int g = 0; g < kLanes; ++g) {
    for (std::int64_t k = shortest; k < member_count(bin[g]); ++k) {
      s[g] = square_step(s[g], m[g], v[g][k]);
    }
  }
  for (int g = 0; g < kLanes; ++g) {
    mean[g] = m[g];
    squares[g] = s[g];
  }
}

void accumulate_one(const double* values, const BinRange& bin, double* mean, double* squares) {
  const double* v = values + bin.lo;
  const std::int64_t count = member_count(bin);
  double m = *mean;
  for (std::int64_t k = 1; k <= count; ++k) m = mean_step(m, v[k - 1], static_cast<double>(k));
  double s = *squares;
  for (std::int64_t k = 0; k < count; ++k) s = square_step(s, m, v[k]);
  *mean = m;
  *squares = s;
}

// Variance = S / q and dispersion = S / mean, with q = c - 1 (1 for a single
// member, -1 for none), in the order: reciprocal of q, variance, dispersion.
void finish_bin(std::int64_t count, double mean, double squares, double* variance,
                double* dispersion) {
  const double divisor = static_cast<double>(count == 1 ? 1 : count - 1);
  const double sample_variance = squares * (1.0 / divisor);
  *variance = sample_variance;
  *dispersion = (divisor * sample_variance) / mean;
}

}  // namespace

void integrate_mean(const double* keys, std::int64_t n, const double* values, const double* centres,
                    std::int64_t m, double* mean, double* variance, double* dispersion,
                    std::int64_t bins) {
  bin_scanner scanner(keys, n, centres, m);
  std::int64_t i = 0;
  for (; i + kLanes <= bins; i += kLanes) {
    BinRange bin[kLanes];
    for (int g = 0; g < kLanes; ++g) bin[g] = scanner.next_bin(i + g);
    accumulate_lanes(values, bin, mean + i, variance + i);
    for (int g = 0; g < kLanes; ++g) {
      finish_bin(member_count(bin[g]), mean[i + g], variance[i + g], variance + i + g,
                 dispersion + i + g);
    }
  }
  for (; i < bins; ++i) {
    const BinRange bin = scanner.next_bin(i);
    accumulate_one(values, bin, mean + i, variance + i);
    finish_bin(member_count(bin), mean[i], variance[i], variance + i, dispersion + i);
  }
}
