// Calibrating one image as the command line asks: the files read, the
// calibration, the printed report and the files written.
#pragma once

#include <cstdio>
#include <string>

#include "cli/calibrate/options.h"
#include "engine/calibrate/calibrate.h"

namespace vokip {

// The printed result: the fitted geometry with its standard uncertainties,
// the rings and points used with the rms residual, and the vokip-reduce
// options that give this geometry.
std::string calibration_report(const std::string& image, const Calibrant& calibrant,
                               const CalibrationStart& start, const Calibration& calibration,
                               bool wavelength_fitted);

// The vokip-reduce options of a geometry, with digits enough to give it
// back to about 1e-10.
std::string reduce_options_of(const Geometry& geometry);

// Runs the command: the report to out, one line per failure to err.
// Returns the exit code.
int run_calibration(const CalibrateOptions& options, std::FILE* out, std::FILE* err);

}  // namespace vokip
