#include "integrate/integrate_mean.h"
#include "integrate/profile_arguments.h"
#include "module/messages.h"
#include "module/shells.h"

// INTEGRATE, keys, values, centres, mean, variance, dispersion
void INTEGRATE(int, IDL_VPTR argv[], char*) {
  ProfileArguments a;
  if (!take_profile_arguments(argv, &a)) {
    issue_message(kOutType, Routine::INTEGRATE);
    return;
  }
  integrate_mean(a.keys.data, a.n, a.values.data, a.centres.data, a.centres.count,
                 a.outputs[0].data, a.outputs[1].data, a.outputs[2].data, a.bins);
  if (a.cut_short) issue_message(kShortArray, Routine::INTEGRATE);
}
