// A picture of a calibration for a person to judge it at a glance: the
// image, log-scaled, with the calibrant's rings where the fitted geometry
// puts them and the points the fit used.
#pragma once

#include "engine/calibrate/calibrate.h"
#include "engine/pictures/png.h"

namespace vokip {

// The image reduced by a whole factor to at most largest_side pixels a side
// (each picture pixel the largest value of its block), grey on the pictures'
// logarithmic scale, no data dark blue; rings the fit used red, the
// calibrant's other rings orange; the points used green.
Picture calibration_picture(const PlateImage& image, const Calibration& calibration,
                            int largest_side = 1000);

}  // namespace vokip
