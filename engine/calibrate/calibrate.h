// Calibration: the plate's geometry fitted to an image of a calibrant's
// rings, from a rough start.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/calibrate/calibrants.h"
#include "engine/calibrate/centre.h"
#include "engine/calibrate/fit.h"
#include "engine/calibrate/plate_image.h"
#include "engine/calibrate/ring_points.h"
#include "engine/geometry/geometry.h"

namespace vokip {

struct CalibrationStart {
  Geometry geometry;         // pixel size, distance, wavelength; the centre if known
  bool centre_known = true;  // else the search covers the middle half of the image
};

struct CalibrationSettings {
  bool refine_wavelength = false;
  int max_iterations = 200;       // of each least-squares fit
  double centre_search_px = 128;  // how far from a known centre the search looks
};

// A ring the fit used.
struct RingUse {
  int index = 0;  // among the calibrant's rings, by ascending 2-theta
  double d_angstrom = 0;
  double two_theta_deg = 0;  // at the fitted wavelength
  int points = 0;
  double rms_deg = 0;
};

struct Calibration {
  Geometry geometry;
  GeometryUncertainty uncertainty;
  PlatePoint found_centre;              // where the centre search put the centre
  double found_distance_mm = 0;         // where the rings' radii put the distance about it
  std::vector<double> ring_d_angstrom;  // every ring of the calibrant the wavelength reaches
  std::vector<RingUse> rings;           // the rings used
  std::vector<RingPoint> points;        // the points used
  std::vector<double> residuals_deg;    // of each point
  double rms_deg = 0;
  double rms_px = 0;       // the same as a distance on the plate, in pixels
  int rings_on_plate = 0;  // of the calibrant's, up to the outermost used (see doubt_about)
  // A strong ring of the image on none of the calibrant's, if any (see doubt_about).
  std::optional<double> foreign_ring_deg;
};

// A fit whose points lie farther from their rings than this, that finds no
// more than half of the calibrant's rings on the plate up to the outermost
// it used, or that leaves a strong ring of the image unexplained (at least
// a fifth as high as the highest, from 0.8 times the innermost used ring's
// 2-theta to the outermost's), is not to be trusted: a peak is placed to a
// fraction of a pixel, and under the right geometry the right calibrant's
// rings are there to be found, and no others. Another calibrant of nearly
// the same lattice (CeO2 and Si differ by 0.4 %) fits their shared rings
// well; only its others give it away.
constexpr double kMostCredibleRmsPx = 1;

// Why the calibration is not to be trusted, in one line naming its figures
// (the rms residual on the plate, the rings found of those on the plate, a
// ring of the image not the calibrant's), or "" when it is. calibrant: its
// name.
std::string doubt_about(const Calibration& calibration, const std::string& calibrant);

// Finds the centre (near the start's, or anywhere in the middle half when
// none is known), then finds points on the innermost ring, fits, and takes
// in one ring after another, each found where the geometry so far puts it,
// fitting again after each; points are assigned to the nearest ring and
// outliers dropped at every step. Throws Error when the start has no
// wavelength, no ring is found, the points are too few, or a fit fails.
Calibration calibrate(const PlateImage& image, const Calibrant& calibrant,
                      const CalibrationStart& start, const CalibrationSettings& settings);

}  // namespace vokip
