// Profile output files: two-column .xy with a commented header, FIT2D-style
// .chi, a .csv with every statistic, and the three-column .xye.
#pragma once

#include <string>

#include "engine/geometry/geometry.h"
#include "engine/profile/profile.h"

namespace vokip {

// What the header lines say produced a profile.
struct ProfileOrigin {
  std::string input_name;        // the image file, as named on the command line
  std::string program;           // e.g. "vokip-reduce 1.0.0"
  std::string corrections;       // the corrections applied, with their values; empty for none
  std::string geometry_sources;  // where the geometry's values came from; empty: not said
  // Everything that made the profile (program, outputs, settings_line), for
  // telling whether an output is what a run would write; empty: not said.
  std::string settings;
};

// The .xy's header line that holds ProfileOrigin::settings, up to the settings.
constexpr char kSettingsLine[] = "# settings: ";

// Bins without pixels are left out of .xy, .xye and .chi (the .xy's header
// says how many are written); the .csv keeps them with a count of 0 and
// empty statistics. Positions are on the
// unit's axis (d for d_A); the .chi gives 2-theta in degrees, Q in 1/A
// after a line with the wavelength, or the radius in mm.
std::string format_xy(const Profile& profile, const Geometry& geometry,
                      const ProfileOrigin& origin);
std::string format_chi(const Profile& profile, const Geometry& geometry,
                       const ProfileOrigin& origin);
std::string format_csv(const Profile& profile, const Geometry& geometry);
// Three columns (position, intensity, sigma) and nothing else, as GSAS-II
// and TOPAS read them; for a profile with an error model.
std::string format_xye(const Profile& profile);

}  // namespace vokip
