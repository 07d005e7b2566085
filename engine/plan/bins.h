// The bins of a profile: evenly spaced centres over a range, and the outer
// edges inside which a key takes part. Which bin a key falls in is the
// module's bin partition (bin_scanner); the outer edges here are the ones it
// uses, so a key kept here is a member of a bin there.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace vokip {

struct BinRequest {
  std::optional<std::int64_t> count;  // number of bins
  std::optional<double> width;        // or their width (at most one of the two)
  std::optional<double> low, high;    // range ends; the data's extent where absent

  bool operator==(const BinRequest& o) const {
    return count == o.count && width == o.width && low == o.low && high == o.high;
  }
};

// Bins are at most this many, to keep a mistyped width from exhausting memory.
constexpr std::int64_t kMostBins = 10000000;

struct BinLayout {
  std::vector<double> centres;
  double width = 0;
  // Keys from lower up to, not including, upper belong to a bin.
  double lower = 0, upper = 0;
};

// Evenly spaced centres over the range. data_low and data_high are the
// smallest and largest key; default_count applies when neither count nor
// width is given. Throws Error when the request cannot be met.
BinLayout lay_out_bins(const BinRequest& request, double data_low, double data_high,
                       std::int64_t default_count);

// Where each bin's members start among ascending keys that all lie inside
// the layout's outer edges: m + 1 indices, the last one where the last bin
// ends (n).
std::vector<std::int64_t> bin_starts(const BinLayout& layout, const double* keys, std::int64_t n);

}  // namespace vokip
