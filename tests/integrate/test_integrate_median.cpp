#include <gsl/gsl_errno.h>
#include <gsl/gsl_sort_vector.h>
#include <gsl/gsl_statistics_double.h>
#include <gsl/gsl_vector.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "integrate/integrate_median.h"
#include "integrate/reference_integration.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Outputs {
  std::vector<double> median, variance, absdev;
  bool complete;
};

// Exact-size arrays; outputs start with a marker that every bin overwrites.
Outputs integrate(const std::vector<double>& keys, const std::vector<double>& values,
                  const std::vector<double>& centres) {
  const std::size_t bins = centres.size();
  Outputs out{std::vector<double>(bins, -123.0), std::vector<double>(bins, -123.0),
              std::vector<double>(bins, -123.0), false};
  out.complete =
      integrate_median(keys.data(), static_cast<std::int64_t>(keys.size()), values.data(),
                       centres.data(), static_cast<std::int64_t>(centres.size()), out.median.data(),
                       out.variance.data(), out.absdev.data(), static_cast<std::int64_t>(bins));
  return out;
}

TEST(IntegrateMedian, BinStatistics) {
  // Bins: {1, 2, 9}, {4, 1, 3, 2}, {7}, empty.
  const Outputs out =
      integrate({0.6, 0.8, 1.4, 1.6, 1.7, 1.8, 2.4, 3.0}, {1, 2, 9, 4, 1, 3, 2, 7}, {1, 2, 3, 4});
  EXPECT_TRUE(out.complete);
  EXPECT_EQ(out.median[0], 2.0);
  EXPECT_DOUBLE_EQ(out.variance[0], 50.0 / 3);  // (1 + 0 + 49) / 3
  EXPECT_DOUBLE_EQ(out.absdev[0], 8.0 / 3);     // (1 + 0 + 7) / 3
  EXPECT_EQ(out.median[1], 2.5);
  EXPECT_EQ(out.variance[1], 1.25);  // (2.25 + 0.25 + 0.25 + 2.25) / 4
  EXPECT_EQ(out.absdev[1], 1.0);
  EXPECT_EQ(out.median[2], 7.0);
  EXPECT_EQ(out.variance[2], 0.0);
  EXPECT_EQ(out.absdev[2], 0.0);
  EXPECT_TRUE(std::isnan(out.median[3]));
  EXPECT_TRUE(std::isnan(out.variance[3]));
  EXPECT_TRUE(std::isnan(out.absdev[3]));
}

// A handler of the caller's that must be back in place afterwards.
bool caller_saw_error = false;
void callers_handler(const char*, const char*, int, int) {
  caller_saw_error = true;
}

TEST(IntegrateMedian, NoKeysGivesEmptyBinsAndPreviousHandlerStays) {
  gsl_error_handler_t* const original = gsl_set_error_handler(&callers_handler);
  const Outputs out = integrate({}, {}, {1, 2});
  EXPECT_TRUE(out.complete);
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(std::isnan(out.median[i]));
    EXPECT_TRUE(std::isnan(out.variance[i]));
    EXPECT_TRUE(std::isnan(out.absdev[i]));
  }
  (void)integrate({0.9, 1.1}, {1, 2}, {1, 2});
  EXPECT_EQ(gsl_set_error_handler(original), &callers_handler);
  EXPECT_FALSE(caller_saw_error);
}

// The statistics as GSL gives them for one bin: a fresh vector, GSL's own
// sort, then the median and the deviations about it.
reference::MedianStatistics gsl_statistics(const std::vector<double>& v) {
  gsl_vector* work = gsl_vector_alloc(v.size());
  for (std::size_t k = 0; k < v.size(); ++k) gsl_vector_set(work, k, v[k]);
  gsl_sort_vector(work);
  const double median = gsl_stats_median_from_sorted_data(work->data, work->stride, work->size);
  const reference::MedianStatistics s{
      median, gsl_stats_variance_with_fixed_mean(work->data, work->stride, work->size, median),
      gsl_stats_absdev_m(work->data, work->stride, work->size, median)};
  gsl_vector_free(work);
  return s;
}

void expect_same_bits(const reference::MedianStatistics& a, const reference::MedianStatistics& b) {
  EXPECT_EQ(reference::bits(a.median), reference::bits(b.median));
  EXPECT_EQ(reference::bits(a.variance), reference::bits(b.variance));
  EXPECT_EQ(reference::bits(a.absdev), reference::bits(b.absdev));
}

TEST(IntegrateMedian, AgreesWithNthElementAndWithGslOnRandomProfiles) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    reference::Profile p = reference::random_profile(seed, 20000, 301);
    // Negative values, and signed zeros in some bins.
    for (std::size_t j = 0; j < p.values.size(); j += 7) p.values[j] = 500.0 - p.values[j];
    for (std::size_t j = 0; j < p.values.size(); j += 1009) p.values[j] = -0.0;
    for (std::size_t j = 3; j < p.values.size(); j += 1013) p.values[j] = 0.0;
    const Outputs out = integrate(p.keys, p.values, p.centres);
    EXPECT_TRUE(out.complete);
    for (std::size_t i = 0; i < p.centres.size(); ++i) {
      const auto values = reference::pick(p.values, reference::members(p.keys, p.centres, i));
      const reference::MedianStatistics got{out.median[i], out.variance[i], out.absdev[i]};
      if (values.empty()) {
        expect_same_bits(got, {kNaN, kNaN, kNaN});
        continue;
      }
      expect_same_bits(got, gsl_statistics(values));
      const reference::MedianStatistics expected = reference::median_statistics(values);
      EXPECT_TRUE(reference::close(got.median, expected.median)) << seed << " bin " << i;
      EXPECT_TRUE(reference::close(got.variance, expected.variance)) << seed << " bin " << i;
      EXPECT_TRUE(reference::close(got.absdev, expected.absdev)) << seed << " bin " << i;
    }
  }
}

TEST(IntegrateMedian, NaNsInfinitiesAndSignedZerosMatchGsl) {
  // Bins: {-0, 0, 0, 5, -0}, {NaN, 3, 1, 2}, {2, -0, 0, 1}, {1, inf, -inf}.
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> values = {-0.0, 0.0, 0.0,  5.0, -0.0, kNaN, 3,   1,
                                      2,    2,   -0.0, 0.0, 1,    1,    inf, -inf};
  const std::vector<double> keys = {0.6, 0.7, 0.8, 0.9, 1.0, 1.6, 1.7, 1.8,
                                    1.9, 2.6, 2.7, 2.8, 2.9, 3.6, 3.7, 3.8};
  const Outputs out = integrate(keys, values, {1, 2, 3, 4});
  const std::vector<std::vector<double>> bins = {
      {-0.0, 0.0, 0.0, 5.0, -0.0}, {kNaN, 3, 1, 2}, {2, -0.0, 0.0, 1}, {1, inf, -inf}};
  for (std::size_t i = 0; i < bins.size(); ++i) {
    expect_same_bits({out.median[i], out.variance[i], out.absdev[i]}, gsl_statistics(bins[i]));
  }
  EXPECT_EQ(out.median[0], 0.0);
  EXPECT_EQ(out.variance[0], 5.0);  // 25 / 5
  EXPECT_EQ(out.median[2], 0.5);
  EXPECT_EQ(out.absdev[2], 0.75);  // (1.5 + 0.5 + 0.5 + 0.5) / 4
  EXPECT_EQ(out.median[3], 1.0);
  EXPECT_EQ(out.absdev[3], inf);
}

TEST(IntegrateMedian, OnlyTheGivenBinsAreWritten) {
  const reference::Profile p = reference::random_profile(3, 3000, 50);
  const Outputs all = integrate(p.keys, p.values, p.centres);
  const std::int64_t bins = 9;
  std::vector<double> median(bins), variance(bins), absdev(bins);
  EXPECT_TRUE(integrate_median(p.keys.data(), static_cast<std::int64_t>(p.keys.size()),
                               p.values.data(), p.centres.data(),
                               static_cast<std::int64_t>(p.centres.size()), median.data(),
                               variance.data(), absdev.data(), bins));
  for (std::int64_t i = 0; i < bins; ++i) {
    expect_same_bits({median[i], variance[i], absdev[i]},
                     {all.median[i], all.variance[i], all.absdev[i]});
  }
}

}  // namespace
