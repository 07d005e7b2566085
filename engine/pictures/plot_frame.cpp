#include "engine/pictures/plot_frame.h"

#include <algorithm>
#include <cmath>

namespace vokip {

PlotFrame profile_frame(const Profile& p) {
  PlotFrame f;
  f.x_low = axis_value(p.unit, p.centre.front() - p.bin_width / 2);
  f.x_high = axis_value(p.unit, p.centre.back() + p.bin_width / 2);
  if (f.x_low > f.x_high) std::swap(f.x_low, f.x_high);
  f.y_low = f.y_high = 0;
  for (std::size_t i = 0; i < p.value.size(); ++i) {
    if (p.count[i] == 0 || !std::isfinite(p.value[i])) continue;
    f.y_low = std::min(f.y_low, p.value[i]);
    f.y_high = std::max(f.y_high, p.value[i]);
  }
  if (!(f.y_high > f.y_low)) f.y_high = f.y_low + 1;
  f.y_high += (f.y_high - f.y_low) * 0.05;
  return f;
}

std::vector<double> round_ticks(double low, double high) {
  const double span = high - low;
  if (!(span > 0) || !std::isfinite(span)) return {low};
  const double rough = span / 6;
  const double magnitude = std::pow(10.0, std::floor(std::log10(rough)));
  double step = magnitude;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * magnitude;
    if (step >= rough) break;
  }
  std::vector<double> out;
  for (double t = std::ceil(low / step) * step; t <= high + step * 1e-9; t += step) {
    out.push_back(std::fabs(t) < step * 1e-9 ? 0.0 : t);
  }
  return out;
}

}  // namespace vokip
