// The start of a calibration found from an image of rings, without knowing
// the geometry: the beam centre, the point about which the rings' local
// contrast, averaged around circles, is sharpest; then the distance at which
// the calibrant's rings line up with the image's rings around that centre.
#pragma once

#include <vector>

#include "engine/calibrate/plate_image.h"
#include "engine/geometry/geometry.h"

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

// The distance from the sample, in micrometres, from start_um / span to
// start_um x span, at which rings of the given tan 2-theta (ascending) about
// the centre best meet the image's rings: the image's mean around circles
// about the centre (clipped at its 99.9th percentile, so that single bright
// pixels do not count) less its running median, summed where the innermost
// eight rings with data would lie. Distance and wavelength act on the rings'
// radii alike, so a wavelength that is off is made up for here too. The
// ratios of the first rings' radii admit no other match within 20 %; good to
// some tenths of a percent, a tilt widening the rings around a circle.
double find_ring_distance_um(const PlateImage& image, PlatePoint centre, double pixel_x_um,
                             double pixel_y_um, const std::vector<double>& ring_tangents,
                             double start_um, double span);

// What stands above the background of the image's mean over bins of
// 2-theta under the geometry (clipped as above, then less its running
// median over 20 bins on either side, smoothed over five), from 0 out by
// bins of bin_deg; NaN where less than a quarter of a ring has data. For
// judging a fit by the rings it leaves unexplained.
std::vector<double> two_theta_peaks(const PlateImage& image, const Geometry& geometry,
                                    double bin_deg);

}  // namespace vokip
