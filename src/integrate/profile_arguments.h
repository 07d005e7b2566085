// The six arguments both integration procedures take, in order: keys, values,
// centres, then three double outputs of one element per bin.
#pragma once

#include "module/arguments.h"

struct ProfileArguments {
  HostArray<const double> keys, values, centres;
  HostArray<double> outputs[3];
  IDL_MEMINT n = 0;        // keys that have a value
  IDL_MEMINT bins = 0;     // bins with room in every output
  bool cut_short = false;  // some keys or bins were left out for want of room
};

// False when an output is not the caller's own double array (nothing should
// be computed then).
bool take_profile_arguments(IDL_VPTR argv[], ProfileArguments* a);
