#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "integrate/integrate_mean.h"
#include "integrate/reference_integration.h"

namespace {

struct Outputs {
  std::vector<double> mean, variance, dispersion;
};

// Exact-size arrays throughout, zero-filled outputs unless given.
Outputs integrate(const std::vector<double>& keys, const std::vector<double>& values,
                  const std::vector<double>& centres, Outputs prior = {}) {
  const std::size_t bins = centres.size();
  if (prior.mean.empty())
    prior = {std::vector<double>(bins), std::vector<double>(bins), std::vector<double>(bins)};
  integrate_mean(keys.data(), static_cast<std::int64_t>(keys.size()), values.data(), centres.data(),
                 static_cast<std::int64_t>(centres.size()), prior.mean.data(),
                 prior.variance.data(), prior.dispersion.data(), static_cast<std::int64_t>(bins));
  return prior;
}

TEST(IntegrateMean, BinStatistics) {
  // Bin 0 holds 4, 6, 8; bin 1 holds 5; bin 2 is empty.
  const Outputs out = integrate({0.8, 0.9, 1.2, 2.0, 3.9}, {4, 6, 8, 5, 100}, {1, 2, 3});
  EXPECT_EQ(out.mean[0], 6.0);
  EXPECT_EQ(out.variance[0], 4.0);  // (4 + 0 + 4) / 2
  EXPECT_DOUBLE_EQ(out.dispersion[0], 8.0 / 6.0);
  EXPECT_EQ(out.mean[1], 5.0);
  EXPECT_EQ(out.variance[1], 0.0);
  EXPECT_EQ(out.dispersion[1], 0.0);
  // Empty: the mean stays 0, the variance is the prior 0 negated, 0/0 is NaN.
  EXPECT_EQ(out.mean[2], 0.0);
  EXPECT_EQ(out.variance[2], 0.0);
  EXPECT_TRUE(std::signbit(out.variance[2]));
  EXPECT_TRUE(std::isnan(out.dispersion[2]));
}

TEST(IntegrateMean, PriorContentsEnterTheResults) {
  Outputs prior{{0, 0, 2}, {3, 5, 7}, {0, 0, 0}};
  // Bin 0 holds 4, 6, 8; bin 1 holds 5; bin 2 is empty.
  const Outputs out = integrate({0.8, 0.9, 1.2, 2.0}, {4, 6, 8, 5}, {1, 2, 3}, prior);
  EXPECT_EQ(out.variance[0], (3.0 + 8.0) / 2);
  EXPECT_EQ(out.dispersion[0], (3.0 + 8.0) / 6);
  EXPECT_EQ(out.variance[1], 5.0);  // a single member divides by 1
  EXPECT_EQ(out.dispersion[1], 1.0);
  // Empty: the prior mean stays, the variance is negated, the dispersion is
  // prior variance over prior mean.
  EXPECT_EQ(out.mean[2], 2.0);
  EXPECT_EQ(out.variance[2], -7.0);
  EXPECT_EQ(out.dispersion[2], 3.5);

  // A prior mean enters the first step: 10 + (4 - 10) / 1 = 4, then as usual.
  const Outputs seeded = integrate({0.8, 0.9}, {4, 6}, {1, 2}, Outputs{{10, 0}, {0, 0}, {0, 0}});
  EXPECT_EQ(seeded.mean[0], 5.0);
  EXPECT_EQ(seeded.variance[0], 2.0);
}

TEST(IntegrateMean, ZeroMeanGivesUnboundedDispersion) {
  const Outputs out = integrate({0.9, 1.1, 1.9, 2.1}, {-1, 1, 0, 0}, {1, 2});
  EXPECT_EQ(out.mean[0], 0.0);
  EXPECT_EQ(out.variance[0], 2.0);
  EXPECT_TRUE(std::isinf(out.dispersion[0]));
  EXPECT_TRUE(std::isnan(out.dispersion[1]));  // 0 / 0
}

TEST(IntegrateMean, OnlyTheGivenBinsAreComputedAndPartitionIsUnchanged) {
  const reference::Profile p = reference::random_profile(7, 2000, 40);
  const Outputs all = integrate(p.keys, p.values, p.centres);
  // Room for 13 bins only: exact-size outputs, and the 13 agree bit for bit.
  const std::int64_t bins = 13;
  std::vector<double> mean(bins), variance(bins), dispersion(bins);
  integrate_mean(p.keys.data(), static_cast<std::int64_t>(p.keys.size()), p.values.data(),
                 p.centres.data(), static_cast<std::int64_t>(p.centres.size()), mean.data(),
                 variance.data(), dispersion.data(), bins);
  for (std::int64_t i = 0; i < bins; ++i) {
    EXPECT_EQ(reference::bits(mean[i]), reference::bits(all.mean[i]));
    EXPECT_EQ(reference::bits(variance[i]), reference::bits(all.variance[i]));
    EXPECT_EQ(reference::bits(dispersion[i]), reference::bits(all.dispersion[i]));
  }
  // No keys at all: every bin is empty.
  const Outputs none = integrate({}, {}, {1, 2, 3});
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(std::signbit(none.variance[i]));
}

// The running mean and sum of squares exactly as defined, one bin at a time.
reference::MeanStatistics recurrence(const std::vector<double>& v) {
  double mean = 0;
  for (std::size_t k = 1; k <= v.size(); ++k) mean = mean + (v[k - 1] - mean) / k;
  double squares = 0;
  for (double x : v) squares = squares + (mean - x) * (mean - x);
  const double q = v.size() == 1 ? 1.0 : v.size() - 1.0;
  const double variance = squares * (1 / q);
  return {mean, variance, q * variance / mean};
}

TEST(IntegrateMean, AgreesWithTwoPassStatisticsOnRandomProfiles) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const reference::Profile p = reference::random_profile(seed, 20000, 301);
    const Outputs out = integrate(p.keys, p.values, p.centres);
    for (std::size_t i = 0; i < p.centres.size(); ++i) {
      const auto values = reference::pick(p.values, reference::members(p.keys, p.centres, i));
      if (values.empty()) {
        EXPECT_EQ(out.mean[i], 0.0);
        EXPECT_TRUE(std::signbit(out.variance[i]));
        EXPECT_TRUE(std::isnan(out.dispersion[i]));
        continue;
      }
      const reference::MeanStatistics two_pass = reference::mean_statistics(values);
      EXPECT_TRUE(reference::close(out.mean[i], two_pass.mean)) << "seed " << seed << " bin " << i;
      EXPECT_TRUE(reference::close(out.variance[i], two_pass.variance)) << seed << " " << i;
      EXPECT_TRUE(reference::close(out.dispersion[i], two_pass.dispersion)) << seed << " " << i;
      // Bins computed side by side keep each bin's own rounding.
      const reference::MeanStatistics exact = recurrence(values);
      EXPECT_EQ(out.mean[i], exact.mean);
      EXPECT_EQ(out.variance[i], exact.variance);
      EXPECT_EQ(out.dispersion[i], exact.dispersion);
    }
  }
}

}  // namespace
