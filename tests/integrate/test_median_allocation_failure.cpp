#include <gsl/gsl_errno.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "host/host.h"
#include "integrate/failing_vector_alloc.h"
#include "integrate/integrate_median.h"

namespace {

// Five bins of 1, 2, 3, 4 and 5 members (values 1 .. c): each is larger than
// any before it, so each needs a larger working vector.
struct GrowingBins {
  std::vector<double> keys, values, centres{1, 2, 3, 4, 5};
  GrowingBins() {
    for (int bin = 0; bin < 5; ++bin) {
      for (int k = 1; k <= bin + 1; ++k) {
        keys.push_back(bin + 0.5 + 0.1 * k);
        values.push_back(k);
      }
    }
  }
};

struct Result {
  bool complete;
  std::vector<double> median, variance, absdev;
};

Result run(const GrowingBins& p) {
  Result r{false, std::vector<double>(5, -1.0), std::vector<double>(5, -1.0),
           std::vector<double>(5, -1.0)};
  r.complete =
      integrate_median(p.keys.data(), static_cast<std::int64_t>(p.keys.size()), p.values.data(),
                       p.centres.data(), 5, r.median.data(), r.variance.data(), r.absdev.data(), 5);
  return r;
}

// Bins 0 .. done-1 computed (median of 1 .. c is (c + 1) / 2), the rest NaN.
void expect_done_up_to(const Result& r, int done) {
  for (int i = 0; i < 5; ++i) {
    if (i < done) {
      EXPECT_EQ(r.median[i], (i + 2) / 2.0) << "bin " << i;
      EXPECT_FALSE(std::isnan(r.variance[i]) || std::isnan(r.absdev[i])) << "bin " << i;
    } else {
      EXPECT_TRUE(std::isnan(r.median[i]) && std::isnan(r.variance[i]) && std::isnan(r.absdev[i]))
          << "bin " << i;
    }
  }
}

bool caller_saw_error = false;
void recording_handler(const char*, const char*, int, int) {
  caller_saw_error = true;
}
void throwing_handler(const char* reason, const char*, int, int) {
  throw std::runtime_error(reason);
}

TEST(MedianAllocationFailure, StopsAtTheBinAndRestoresTheCallersHandler) {
  const GrowingBins p;
  gsl_error_handler_t* const original = gsl_set_error_handler(&recording_handler);

  failing_vector_alloc::fail_call(0);
  const Result all = run(p);
  EXPECT_TRUE(all.complete);
  expect_done_up_to(all, 5);
  EXPECT_EQ(failing_vector_alloc::calls(), 5);

  for (int k = 1; k <= 5; ++k) {
    failing_vector_alloc::fail_call(k);
    const Result r = run(p);
    EXPECT_FALSE(r.complete) << "failing call " << k;
    expect_done_up_to(r, k - 1);
    EXPECT_EQ(gsl_set_error_handler(&recording_handler), &recording_handler);
  }
  EXPECT_FALSE(caller_saw_error);
  gsl_set_error_handler(original);
}

TEST(MedianAllocationFailure, NeitherThrowsThroughNorAborts) {
  const GrowingBins p;
  // A handler that throws, as a host may install.
  gsl_error_handler_t* const original = gsl_set_error_handler(&throwing_handler);
  failing_vector_alloc::fail_call(2);
  Result r{};
  EXPECT_NO_THROW(r = run(p));
  EXPECT_FALSE(r.complete);
  expect_done_up_to(r, 1);
  EXPECT_EQ(gsl_set_error_handler(nullptr), &throwing_handler);

  // GSL's default handler, which aborts.
  failing_vector_alloc::fail_call(1);
  r = run(p);
  EXPECT_FALSE(r.complete);
  expect_done_up_to(r, 0);
  EXPECT_EQ(gsl_set_error_handler(original), nullptr);
  failing_vector_alloc::fail_call(0);
}

// INTEGRATE_MEDIAN called through the host. In the open host a GSL error runs
// the host's handler, which throws: an allocation failure inside the module
// must stay there and leave the host's handler in place, so later calls work.
class MedianAllocationFailureInTheHost : public ::testing::TestWithParam<vokip_host::Mode> {
 protected:
  void SetUp() override {
    vokip_host::reset(GetParam());
    ASSERT_TRUE(vokip_host::load_module(VOKIP_MODULE_DIR));
  }

  static Result call(const GrowingBins& p) {
    std::vector<IDL_VPTR> outputs;
    for (int k = 0; k < 3; ++k) outputs.push_back(vokip_host::make_array(IDL_TYP_DOUBLE, {5}));
    const bool called = vokip_host::call(
        "INTEGRATE_MEDIAN", {vokip_host::make_array_from(IDL_TYP_DOUBLE, p.keys),
                             vokip_host::make_array_from(IDL_TYP_DOUBLE, p.values),
                             vokip_host::make_array_from(IDL_TYP_DOUBLE, p.centres), outputs[0],
                             outputs[1], outputs[2]});
    return {called, vokip_host::values(outputs[0]), vokip_host::values(outputs[1]),
            vokip_host::values(outputs[2])};
  }
};

TEST_P(MedianAllocationFailureInTheHost, StaysInsideTheModule) {
  gsl_error_handler_t* const hosts_handler = gsl_set_error_handler(nullptr);
  gsl_set_error_handler(hosts_handler);
  const GrowingBins p;

  failing_vector_alloc::fail_call(1);
  const Result failed = call(p);
  EXPECT_TRUE(failed.complete);
  EXPECT_EQ(failing_vector_alloc::calls(), 1);
  expect_done_up_to(failed, 0);
  EXPECT_EQ(gsl_set_error_handler(hosts_handler), hosts_handler);

  failing_vector_alloc::fail_call(0);
  const Result next = call(p);
  EXPECT_TRUE(next.complete);
  expect_done_up_to(next, 5);
  EXPECT_TRUE(vokip_host::printed().empty());
}

INSTANTIATE_TEST_SUITE_P(BothHosts, MedianAllocationFailureInTheHost,
                         ::testing::Values(vokip_host::Mode::idl, vokip_host::Mode::open),
                         [](const auto& info) {
                           return info.param == vokip_host::Mode::idl ? "idl" : "open";
                         });

}  // namespace
