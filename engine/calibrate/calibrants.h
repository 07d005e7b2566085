// Calibrant powders: the d-spacings of their reflections, built in from
// certified lattice constants and reflection conditions, or read from a list.
#pragma once

#include <string>
#include <vector>

namespace vokip {

struct Calibrant {
  std::string name;
  std::vector<double> d_spacings_angstrom;  // distinct, largest first
};

// The built-in calibrants' names, as the command line takes them.
std::vector<std::string> builtin_calibrant_names();

// A built-in calibrant with its reflections down to d_min_angstrom. Throws
// Error naming the built-in ones when there is none of that name (the case
// of the letters does not matter).
Calibrant builtin_calibrant(const std::string& name, double d_min_angstrom = 0.3);

// A list of d-spacings in angstrom, one per line; '#' starts a comment and
// anything after a line's first number is ignored. Throws Error saying which
// line is not a d-spacing, or that the list is empty.
Calibrant parse_calibrant(const std::string& name, const std::string& text);

// Reads and parses a calibrant file; the calibrant takes the file's name.
Calibrant read_calibrant(const std::string& path);

}  // namespace vokip
