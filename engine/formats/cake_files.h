// The cake as files: a 32-bit float TIFF (rows: azimuth bins, columns:
// radial bins, written with libtiff) whose description holds the axes, and
// the same axes as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/profile/profile.h"

namespace vokip {

// The axes: the radial bins' positions on the unit's axis and the azimuth
// bins' centres in degrees, one line each, after a line naming the image.
std::string format_cake_axes(const Profile& profile, const std::string& input_name);

// The TIFF's bytes; empty cells are NaN. Its ImageDescription is the axes.
std::vector<std::uint8_t> encode_cake_tiff(const Profile& profile, const std::string& input_name);

}  // namespace vokip
