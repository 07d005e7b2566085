// Finding the beam centre from an image of rings, without knowing the
// geometry: the point about which the rings' local contrast, averaged around
// circles, is sharpest.
#pragma once

#include "engine/calibrate/plate_image.h"

namespace vokip {

struct PlatePoint {
  double x = 0, y = 0;  // in the pixel frame: pixel (c, r) has its centre at (c + 0.5, r + 0.5)
};

// Searches within search_radius_px of start, coarse to fine on a pyramid of
// the image's local contrast (the image less its mean around each pixel,
// clipped at its extreme percentiles so that single bright pixels do not
// count; coarser levels keep each block's largest value and take the
// contrast again). A candidate's score sums, over circles of one pixel's
// width about it from least_radius_px out, the square of the circle's mean
// contrast times the share of the circle with data, over the radius: circles
// that follow a ring score high, and inner rings, which a tilt distorts
// least, count most. Good to some pixels; the fit does the rest.
PlatePoint find_ring_centre(const PlateImage& image, PlatePoint start, double search_radius_px,
                            double least_radius_px);

}  // namespace vokip
