#include <algorithm>

#include "integrate/integrate_median.h"
#include "module/arguments.h"
#include "module/messages.h"
#include "module/shells.h"

// INTEGRATE_MEDIAN, keys, values, centres, median, variance, absdev
void INTEGRATE_MEDIAN(int, IDL_VPTR argv[], char*) {
  const HostArray<const double> keys = input_array<double>(argv, 0);
  const HostArray<const double> values = input_array<double>(argv, 1);
  const HostArray<const double> centres = input_array<double>(argv, 2);
  HostArray<double> median, variance, absdev;
  const bool median_ok = output_array(argv, 3, &median);
  const bool variance_ok = output_array(argv, 4, &variance);
  const bool absdev_ok = output_array(argv, 5, &absdev);
  if (!median_ok || !variance_ok || !absdev_ok) {
    issue_message(kOutType, Routine::integrate_median);
    return;
  }

  // Only keys with a value, and only bins with room in every output.
  const IDL_MEMINT n = std::min(keys.count, values.count);
  const IDL_MEMINT bins = std::min({centres.count, median.count, variance.count, absdev.count});
  // A failed allocation leaves NaN in the bins it kept from being computed.
  integrate_median(keys.data, n, values.data, centres.data, centres.count, median.data,
                   variance.data, absdev.data, bins);
  if (n < keys.count || bins < centres.count) {
    issue_message(kShortArray, Routine::integrate_median);
  }
}
