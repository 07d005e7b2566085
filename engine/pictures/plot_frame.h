// The frame of a profile's plot, the same in its SVG and its PNG: the box,
// the values at its edges, and where an axis gets its labelled ticks.
#pragma once

#include <vector>

#include "engine/profile/profile.h"

namespace vokip {

struct PlotFrame {
  double width = 900, height = 540, left = 90, right = 30, top = 60, bottom = 70;
  double x_low = 0, x_high = 1, y_low = 0, y_high = 1;  // the values at the box's edges

  double box_width() const { return width - left - right; }
  double box_height() const { return height - top - bottom; }
  double x(double value) const { return left + (value - x_low) / (x_high - x_low) * box_width(); }
  double y(double value) const {
    return top + box_height() - (value - y_low) / (y_high - y_low) * box_height();
  }
};

// The frame of the profile along its unit's axis (d falls as q grows), from
// 0 (or below) to a little over its largest value.
PlotFrame profile_frame(const Profile& profile);

// Round positions (1, 2 or 5 times a power of ten apart), about six of them,
// covering low to high.
std::vector<double> round_ticks(double low, double high);

}  // namespace vokip
