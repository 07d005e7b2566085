// Profile output files: two-column .xy with a commented header, FIT2D-style
// .chi, a .csv with every statistic, and an .svg plot.
#pragma once

#include <string>

#include "reduce/reduction.h"

// What the header lines say produced a profile.
struct ProfileOrigin {
  std::string input_name;  // the image file, as named on the command line
  std::string program;     // e.g. "vokip-reduce 1.0.0"
};

// Bins without pixels are left out of .xy, .chi and .svg; the .csv keeps them
// with a count of 0 and empty statistics.
std::string format_xy(const Reduction& reduction, const ProfileOrigin& origin);
std::string format_chi(const Reduction& reduction, const ProfileOrigin& origin);
std::string format_csv(const Reduction& reduction);
std::string format_svg(const Reduction& reduction, const ProfileOrigin& origin);

// Writes under a temporary name beside the target, then renames it into
// place, so a reader never sees half a file. False and a message on failure.
bool write_text_file(const std::string& path, const std::string& text, std::string* error);
