#include "geometry/azimuth_map.h"
#include "module/arguments.h"
#include "module/messages.h"
#include "module/shells.h"

// AZIMUTHIMAGEPLATE, y, x, output
void AZIMUTHIMAGEPLATE(int, IDL_VPTR argv[], char*) {
  issue_message(kAzimGreet, Routine::AZIMUTHIMAGEPLATE);
  const HostArray<const double> y = input_array<double>(argv, 0);
  const HostArray<const double> x = input_array<double>(argv, 1);
  HostArray<double> out;
  if (!output_array<double>(argv, 2, &out)) {
    issue_message(kOutType, Routine::AZIMUTHIMAGEPLATE);
    return;
  }
  if (!azimuth_map(y.data, y.count, x.data, x.count, out.data, out.count, out.width)) {
    issue_message(kShortArray, Routine::AZIMUTHIMAGEPLATE);
  }
}
