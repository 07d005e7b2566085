#include <algorithm>

#include "integrate/integrate_mean.h"
#include "module/arguments.h"
#include "module/messages.h"
#include "module/shells.h"

// INTEGRATE, keys, values, centres, mean, variance, dispersion
void INTEGRATE(int, IDL_VPTR argv[], char*) {
  const HostArray<const double> keys = input_array<double>(argv, 0);
  const HostArray<const double> values = input_array<double>(argv, 1);
  const HostArray<const double> centres = input_array<double>(argv, 2);
  HostArray<double> mean, variance, dispersion;
  const bool mean_ok = output_array(argv, 3, &mean);
  const bool variance_ok = output_array(argv, 4, &variance);
  const bool dispersion_ok = output_array(argv, 5, &dispersion);
  if (!mean_ok || !variance_ok || !dispersion_ok) {
    issue_message(kOutType, Routine::integrate);
    return;
  }

  // Only keys with a value, and only bins with room in every output.
  const IDL_MEMINT n = std::min(keys.count, values.count);
  const IDL_MEMINT bins = std::min({centres.count, mean.count, variance.count, dispersion.count});
  integrate_mean(keys.data, n, values.data, centres.data, centres.count, mean.data, variance.data,
                 dispersion.data, bins);
  if (n < keys.count || bins < centres.count) issue_message(kShortArray, Routine::integrate);
}
