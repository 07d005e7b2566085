// Points on a calibrant's rings: where a ring of given 2-theta crosses the
// plate along each azimuth for a geometry, and the sub-pixel peak positions
// found in the image around those places.
#pragma once

#include <vector>

#include "engine/calibrate/plate_image.h"
#include "engine/geometry/geometry.h"

namespace vokip {

// A peak on a ring, in the pixel frame (pixel (c, r) has its centre at
// (c + 0.5, r + 0.5)).
struct RingPoint {
  double x = 0, y = 0;
  int ring = 0;         // index into the rings' 2-theta list
  double width_px = 0;  // full width at half height, along the search line
};

// Where rings of given 2-theta cross the plate for one geometry: the
// module's polar angle formula solved for the distance from the beam centre.
class RingLocator {
 public:
  RingLocator(const Geometry& geometry, const std::vector<double>& ring_two_theta_deg);

  // The distance in micrometres from the beam centre, in the direction
  // (cos_phi, sin_phi) of the plate's x and y, at which ring `ring` lies;
  // NaN where its cone does not meet the plate in that direction.
  double radius_um(int ring, double cos_phi, double sin_phi) const;

  // The distance of a ring at no tilt, in the same unit.
  double untilted_radius_um(int ring) const { return distance_um_ * tangents_[ring]; }

  int rings() const { return static_cast<int>(tangents_.size()); }

 private:
  double distance_um_;
  double cos_tilt_, sin_tilt_, cos_direction_, sin_direction_;
  std::vector<double> tangents_;  // tan 2-theta of each ring
};

struct RingSearch {
  double window_px = 40;        // how far from where it is expected a peak is looked for
  double margin_px = 8;         // beyond that on both sides: the local background
  double point_spacing_px = 3;  // along a ring, between search lines
  int most_points_per_ring = 1440;
  double least_significance = 6;  // peak height over the local noise
  double least_width_px = 0;      // the narrowest peak taken (0: any)
  double most_width_px = 0;       // the widest (0: any that fits its window)
  double least_gap_px = 0;        // no search where a neighbouring ring is closer than this
};

// Looks for the listed rings (indices into ring_two_theta, which holds every
// ring of the calibrant in ascending order, so that a peak is never looked
// for past half way to a neighbour) along straight lines out of the
// geometry's beam centre. A window that meets a pixel without data yields no
// point, so neither a beam stop nor the plate's edge nor a mask can attract
// one; a peak must stand clear of a linear local background by the
// significance, and fall to half its height on both sides inside its window.
// lines_searched, when given, receives for each listed ring how many lines
// had a window wholly on data.
std::vector<RingPoint> find_ring_points(const PlateImage& image, const Geometry& geometry,
                                        const std::vector<double>& ring_two_theta,
                                        const std::vector<int>& rings, const RingSearch& search,
                                        std::vector<int>* lines_searched = nullptr);

}  // namespace vokip
