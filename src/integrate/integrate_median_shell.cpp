#include "integrate/integrate_median.h"
#include "integrate/profile_arguments.h"
#include "module/messages.h"
#include "module/shells.h"

// INTEGRATE_MEDIAN, keys, values, centres, median, variance, absdev
void INTEGRATE_MEDIAN(int, IDL_VPTR argv[], char*) {
  ProfileArguments a;
  if (!take_profile_arguments(argv, &a)) {
    issue_message(kOutType, Routine::INTEGRATE_MEDIAN);
    return;
  }
  // A failed allocation leaves NaN in the bins it kept from being computed.
  integrate_median(a.keys.data, a.n, a.values.data, a.centres.data, a.centres.count,
                   a.outputs[0].data, a.outputs[1].data, a.outputs[2].data, a.bins);
  if (a.cut_short) issue_message(kShortArray, Routine::INTEGRATE_MEDIAN);
}
