// Polar angle map: for every pixel of an image plate, the angle in degrees
// between the direct beam and the line from the sample to the pixel.
#pragma once

#include <cstdint>

// The plate lies at distance (in units of 1000 coordinate units) from the
// sample and is turned by tilt degrees about an axis in its plane through the
// beam centre, along the direction (-sin direction, cos direction). x and y are
// pixel coordinates measured from the beam centre.
//
// Element-wise addressing when x_count == n, grid addressing by the output's
// first dimension w otherwise (coordinate_addressing.h). Returns true when every
// output element had its coordinates; elements without them are set to NaN.
bool polar_angle_map(double distance, double tilt, double direction, const double* x,
                     std::int64_t x_count, const double* y, std::int64_t y_count, double* output,
                     std::int64_t n, std::int64_t w);
