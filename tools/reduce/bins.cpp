#include "reduce/bins.h"

#include <algorithm>
#include <cmath>

namespace {

// Bins are at most this many, to keep a mistyped width from exhausting memory.
constexpr std::int64_t kMostBins = 10000000;

// The edges exactly as the integration computes them from the centres, so a
// key's bin here is its bin there.
std::vector<double> edges_of(const std::vector<double>& c, double low, double high) {
  const std::size_t m = c.size();
  std::vector<double> e(m + 1);
  if (m == 1) {
    e[0] = low;
    e[1] = high;
    return e;
  }
  e[0] = c[0] - (c[1] - c[0]) * 0.5;
  for (std::size_t i = 1; i < m; ++i) e[i] = (c[i - 1] + c[i]) * 0.5;
  e[m] = c[m - 1] + (c[m - 1] - c[m - 2]) * 0.5;
  return e;
}

}  // namespace

bool lay_out_bins(const BinRequest& r, double data_low, double data_high,
                  std::int64_t default_count, BinLayout* layout, std::string* error) {
  if (r.count && r.width) {
    *error = "give either a bin count or a bin width, not both";
    return false;
  }
  double low = data_low, high = data_high;
  // The data's own extent is widened a hair so rounding keeps its end keys inside.
  const double pad = std::max((data_high - data_low) * 1e-9, std::fabs(data_high) * 1e-12);
  if (!r.low) low -= pad;
  if (!r.high) high += pad;
  if (r.low) low = *r.low;
  if (r.high) high = *r.high;
  if (!std::isfinite(low) || !std::isfinite(high) || !(high > low)) {
    *error = "the range's upper end must lie above its lower end";
    return false;
  }
  std::int64_t m = r.count.value_or(default_count);
  double width = (high - low) / static_cast<double>(m);
  if (r.width) {
    if (!(*r.width > 0) || !std::isfinite(*r.width)) {
      *error = "the bin width must be positive";
      return false;
    }
    width = *r.width;
    const double bins = std::ceil((high - low) / width);
    m = bins > static_cast<double>(kMostBins) ? kMostBins + 1 : static_cast<std::int64_t>(bins);
  }
  if (m < 1 || m > kMostBins) {
    *error = "the number of bins must be 1 to " + std::to_string(kMostBins);
    return false;
  }
  layout->width = width;
  layout->centres.resize(static_cast<std::size_t>(m));
  for (std::int64_t i = 0; i < m; ++i) {
    layout->centres[i] = low + (static_cast<double>(i) + 0.5) * width;
  }
  layout->edges = edges_of(layout->centres, low, low + static_cast<double>(m) * width);
  return true;
}

std::int64_t first_not_below(const double* keys, std::int64_t n, double edge) {
  return std::partition_point(keys, keys + n, [edge](double k) { return edge > k; }) - keys;
}

std::vector<std::int64_t> bin_counts(const BinLayout& layout, const double* keys, std::int64_t n) {
  const std::size_t m = layout.centres.size();
  std::vector<std::int64_t> counts(m);
  std::int64_t lo = first_not_below(keys, n, layout.edges[0]);
  for (std::size_t i = 0; i < m; ++i) {
    const std::int64_t hi = first_not_below(keys, n, layout.edges[i + 1]);
    counts[i] = hi - lo;
    lo = hi;
  }
  return counts;
}
