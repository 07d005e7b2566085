#include "engine/plan/bins.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/base/error.h"
#include "integrate/bin_scanner.h"

namespace vokip {

BinLayout lay_out_bins(const BinRequest& r, double data_low, double data_high,
                       std::int64_t default_count) {
  if (r.count && r.width) {
    throw Error("give either a bin count or a bin width, not both", Setting::bins);
  }
  double low = data_low, high = data_high;
  // The data's own extent is widened a hair so rounding keeps its end keys inside.
  const double pad = std::max((data_high - data_low) * 1e-9, std::fabs(data_high) * 1e-12);
  if (!r.low) low -= pad;
  if (!r.high) high += pad;
  if (r.low) low = *r.low;
  if (r.high) high = *r.high;
  if (!std::isfinite(low) || !std::isfinite(high) || !(high > low)) {
    throw Error("the range's upper end must lie above its lower end", Setting::range);
  }
  std::int64_t m = r.count.value_or(default_count);
  double width = (high - low) / static_cast<double>(m);
  if (r.width) {
    if (!(*r.width > 0) || !std::isfinite(*r.width)) {
      throw Error("the bin width must be positive", Setting::bin_width);
    }
    width = *r.width;
    const double bins = std::ceil((high - low) / width);
    m = bins > static_cast<double>(kMostBins) ? kMostBins + 1 : static_cast<std::int64_t>(bins);
  }
  if (m < 1 || m > kMostBins) {
    throw Error("the number of bins must be 1 to " + std::to_string(kMostBins),
                r.width ? Setting::bin_width : Setting::bins);
  }
  BinLayout layout;
  layout.width = width;
  layout.centres.resize(static_cast<std::size_t>(m));
  for (std::int64_t i = 0; i < m; ++i) {
    layout.centres[i] = low + (static_cast<double>(i) + 0.5) * width;
  }
  if (m == 1) {
    // A single bin takes every key; the range alone bounds it.
    layout.lower = low;
    layout.upper = low + width;
  } else {
    const bin_scanner edges(nullptr, 0, layout.centres.data(), m);
    layout.lower = edges.lower_edge();
    layout.upper = edges.upper_edge(m - 1);
  }
  return layout;
}

std::vector<double> bin_edges(const BinLayout& layout) {
  const std::int64_t m = static_cast<std::int64_t>(layout.centres.size());
  // Bin i's lower edge: the outer lower edge for the first, the upper edge
  // of the bin before for the others; the last bin's upper edge ends them.
  std::vector<double> edges(static_cast<std::size_t>(m) + 1);
  edges[0] = layout.lower;
  edges[m] = layout.upper;
  if (m > 1) {
    const bin_scanner scanner(nullptr, 0, layout.centres.data(), m);
    for (std::int64_t i = 1; i < m; ++i) edges[i] = scanner.upper_edge(i - 1);
  }
  return edges;
}

std::vector<std::int64_t> bin_starts(const BinLayout& layout, const EdgeSearch& search) {
  const std::vector<double> edges = bin_edges(layout);
  std::vector<std::int64_t> starts(edges.size());
  for (std::size_t i = 0; i < edges.size(); ++i) starts[i] = search(edges[i]);
  return starts;
}

}  // namespace vokip
