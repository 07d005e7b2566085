// Azimuth map: for every pixel of an image plate, the direction in degrees of
// the pixel seen from the beam centre, counted from +x towards +y, 0 to 360.
#pragma once

#include <cstdint>

// A zero coordinate (either sign) is taken as 1, so a pixel on an axis or at
// the origin gets the angle of its neighbour one unit off; NaN gives NaN.
//
// Element-wise addressing when y_count == n, grid addressing by the output's
// first dimension w otherwise (y by row, x by column; coordinate_addressing.h).
// Returns true when every output element had its coordinates; elements without
// them are set to NaN.
bool azimuth_map(const double* y, std::int64_t y_count, const double* x, std::int64_t x_count,
                 double* output, std::int64_t n, std::int64_t w);
