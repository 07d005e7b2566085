// Profile output files: two-column .xy with a commented header, FIT2D-style
// .chi, a .csv with every statistic, and an .svg plot.
#pragma once

#include <string>

#include "engine/geometry/geometry.h"
#include "engine/run/reduce.h"

namespace vokip {

// What the header lines say produced a profile.
struct ProfileOrigin {
  std::string input_name;  // the image file, as named on the command line
  std::string program;     // e.g. "vokip-reduce 1.0.0"
};

// Bins without pixels are left out of .xy, .chi and .svg; the .csv keeps them
// with a count of 0 and empty statistics.
std::string format_xy(const Profile& profile, const Geometry& geometry,
                      const ProfileOrigin& origin);
std::string format_chi(const Profile& profile, const Geometry& geometry,
                       const ProfileOrigin& origin);
std::string format_csv(const Profile& profile, const Geometry& geometry);
std::string format_svg(const Profile& profile, const Geometry& geometry,
                       const ProfileOrigin& origin);

}  // namespace vokip
