#include "integrate/profile_arguments.h"

#include <algorithm>

bool take_profile_arguments(IDL_VPTR argv[], ProfileArguments* a) {
  a->keys = input_array<double>(argv, 0);
  a->values = input_array<double>(argv, 1);
  a->centres = input_array<double>(argv, 2);
  bool all_callers = true;
  for (int k = 0; k < 3; ++k)
    all_callers = output_array(argv, 3 + k, &a->outputs[k]) && all_callers;
  if (!all_callers) return false;
  // Only keys with a value, and only bins with room in every output.
  a->n = std::min(a->keys.count, a->values.count);
  a->bins =
      std::min({a->centres.count, a->outputs[0].count, a->outputs[1].count, a->outputs[2].count});
  a->cut_short = a->n < a->keys.count || a->bins < a->centres.count;
  return true;
}
