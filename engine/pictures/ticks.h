// Where a plot's axis gets its labelled ticks.
#pragma once

#include <vector>

namespace vokip {

// Round positions (1, 2 or 5 times a power of ten apart), about six of them,
// covering low to high.
std::vector<double> round_ticks(double low, double high);

}  // namespace vokip
