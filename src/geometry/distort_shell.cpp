#include "geometry/polar_angle_map.h"
#include "module/arguments.h"
#include "module/messages.h"
#include "module/shells.h"

// DISTORTIMAGEPLATE, distance, tilt, direction, x, y, output
void DISTORTIMAGEPLATE(int, IDL_VPTR argv[], char*) {
  issue_message(kDistortGreet, Routine::DISTORTIMAGEPLATE);
  const double distance = scalar_argument(argv, 0);
  const double tilt = scalar_argument(argv, 1);
  const double direction = scalar_argument(argv, 2);
  const HostArray<const double> x = input_array<double>(argv, 3);
  const HostArray<const double> y = input_array<double>(argv, 4);
  HostArray<double> out;
  if (!output_array<double>(argv, 5, &out)) {
    issue_message(kOutType, Routine::DISTORTIMAGEPLATE);
    return;
  }
  if (!polar_angle_map(distance, tilt, direction, x.data, x.count, y.data, y.count, out.data,
                       out.count, out.width)) {
    issue_message(kShortArray, Routine::DISTORTIMAGEPLATE);
  }
}
