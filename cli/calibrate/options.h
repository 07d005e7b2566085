// The command line of vokip-calibrate.
#pragma once

#include <string>
#include <vector>

#include "cli/common/option_parsing.h"
#include "engine/geometry/geometry.h"

namespace vokip {

struct CalibrateOptions {
  std::string image;
  std::string calibrant;       // a built-in calibrant's name
  std::string calibrant_file;  // or a file of d-spacings
  GeometryOverrides start;     // over the header's values (or the .poni's)
  std::string poni_path;       // a starting geometry
  std::string mask_path;
  bool refine_wavelength = false;
  long max_iterations = 200;
  std::string png_path;
  std::string write_poni_path;
  // Version 2 says all that 2.1 would (the default detector orientation),
  // and Debian 12's pyFAI reads no later one.
  std::string poni_version = "2";
  bool force = false;  // write the .poni of a fit that is not credible
};

struct ParsedCalibrateOptions {
  CalibrateOptions options;
  OptionsOutcome outcome = OptionsOutcome::run;
  std::string error;  // for OptionsOutcome::error
};

// Parses the arguments after the program name.
ParsedCalibrateOptions parse_calibrate_options(const std::vector<std::string>& args);

// The --help text.
std::string calibrate_help_text();

// Exit code when the calibration cannot be done.
constexpr int kExitCalibrationFailed = 1;

}  // namespace vokip
