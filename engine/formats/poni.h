// pyFAI's .poni geometry files: "key: value" lines and # comments, versions
// 1, 2 and 2.1; lengths in metres, angles in radians.
#pragma once

#include <string>

#include "engine/geometry/lab_frame.h"

namespace vokip {

// Parses a .poni's text. Throws Error naming a missing key, a value that is
// not a number, a version or detector orientation this reader does not
// take, or a detector without its pixel size.
PoniGeometry parse_poni(const std::string& text);

// Reads a .poni file.
PoniGeometry read_poni(const std::string& path);

// The geometry as a .poni of the given version (2.1, or 2 for pyFAI
// releases before 2023), for an image of width x height pixels. comment: a
// line saying what wrote it.
std::string format_poni(const PoniGeometry& poni, int width, int height, const std::string& comment,
                        const std::string& version = "2.1");

}  // namespace vokip
