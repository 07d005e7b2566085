#include "integrate/integrate_median.h"

#include <gsl/gsl_errno.h>
#include <gsl/gsl_sort_vector.h>
#include <gsl/gsl_statistics_double.h>
#include <gsl/gsl_vector.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "integrate/bin_scanner.h"
#include "integrate/radix_sort.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The last GSL error code seen while a scope is active; 0 for none.
int recorded_gsl_error = 0;

void record_gsl_error(const char*, const char*, int, int gsl_errno) {
  recorded_gsl_error = gsl_errno;
}

// GSL's default error handler aborts and a host may install one that throws;
// neither may happen here. For the lifetime of the scope GSL errors are only
// recorded, and the previous handler, whatever it is, is put back afterwards.
class gsl_error_scope {
 public:
  gsl_error_scope() : previous_(gsl_set_error_handler(&record_gsl_error)) {
    recorded_gsl_error = 0;
  }
  ~gsl_error_scope() { gsl_set_error_handler(previous_); }
  gsl_error_scope(const gsl_error_scope&) = delete;
  gsl_error_scope& operator=(const gsl_error_scope&) = delete;

  bool failed() const { return recorded_gsl_error != 0; }

 private:
  gsl_error_handler_t* previous_;
};

// Working storage for one bin's values and a scratch area of the same size,
// reused from bin to bin and grown when a bin is larger than any before it.
class working_vector {
 public:
  ~working_vector() { gsl_vector_free(vector_); }

  // Room for count members; false when the allocation failed.
  bool reserve(std::int64_t count, const gsl_error_scope& errors) {
    const auto size = static_cast<std::size_t>(count);
    if (vector_ != nullptr && capacity_ >= size) return true;
    gsl_vector_free(vector_);
    vector_ = gsl_vector_alloc(2 * size);
    capacity_ = size;
    if (vector_ != nullptr && errors.failed()) {
      gsl_vector_free(vector_);
      vector_ = nullptr;
    }
    return vector_ != nullptr;
  }

  gsl_vector_view members(std::int64_t count) {
    return gsl_vector_subvector(vector_, 0, static_cast<std::size_t>(count));
  }
  double* scratch() { return vector_->data + capacity_; }

 private:
  gsl_vector* vector_ = nullptr;
  std::size_t capacity_ = 0;
};

// When no value is NaN or a negative zero, equal values are identical bits and
// the ascending order is unique, so any correct sort gives the sequence GSL's
// heapsort gives; a radix sort gets there several times faster. Otherwise the
// positions of equal zeros or of NaNs depend on the algorithm, and GSL sorts.
void sort_ascending(gsl_vector* v, double* scratch, bool order_is_unique) {
  if (order_is_unique) {
    radix_sort(v->data, scratch, v->size);
  } else {
    gsl_sort_vector(v);
  }
}

bool has_unique_order(double x) {
  return !std::isnan(x) && !(x == 0.0 && std::signbit(x));
}

}  // namespace

bool integrate_median(const double* keys, std::int64_t n, const double* values,
                      const double* centres, std::int64_t m, double* median, double* variance,
                      double* absdev, std::int64_t bins) {
  gsl_error_scope errors;
  working_vector work;
  bin_scanner scanner(keys, n, centres, m);
  for (std::int64_t i = 0; i < bins; ++i) {
    const BinRange bin = scanner.next_bin(i);
    const std::int64_t count = bin.end - bin.lo;
    if (count == 0) {
      median[i] = variance[i] = absdev[i] = kNaN;
      continue;
    }
    if (!work.reserve(count, errors)) {
      std::fill(median + i, median + bins, kNaN);
      std::fill(variance + i, variance + bins, kNaN);
      std::fill(absdev + i, absdev + bins, kNaN);
      return false;
    }
    gsl_vector_view view = work.members(count);
    gsl_vector* members = &view.vector;
    bool order_is_unique = true;
    for (std::int64_t k = 0; k < count; ++k) {
      const double v = values[bin.lo + k];
      gsl_vector_set(members, static_cast<std::size_t>(k), v);
      order_is_unique = order_is_unique && has_unique_order(v);
    }
    sort_ascending(members, work.scratch(), order_is_unique);

    const double* sorted = members->data;
    const std::size_t stride = members->stride;
    const std::size_t size = members->size;
    median[i] = gsl_stats_median_from_sorted_data(sorted, stride, size);
    variance[i] = gsl_stats_variance_with_fixed_mean(sorted, stride, size, median[i]);
    absdev[i] = gsl_stats_absdev_m(sorted, stride, size, median[i]);
  }
  return true;
}
