#include "engine/pictures/ticks.h"

#include <cmath>

namespace vokip {

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
