// The bins of a profile: evenly spaced centres over a range, and the outer
// edges inside which a key takes part. Which bin a key falls in is the
// module's bin partition (bin_scanner); the outer edges here are the ones it
// uses, so a key kept here is a member of a bin there.
#pragma once

#include <cstdint>
#include <functional>
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

// The m + 1 edges of the bins: the layout's outer lower edge, each bin's
// upper edge in the module's bin partition (bin_scanner), and the outer
// upper edge last.
std::vector<double> bin_edges(const BinLayout& layout);

// Where an edge falls among ascending keys: the position of the first key
// that is not below it (a key on an edge belongs above it), or the count.
using EdgeSearch = std::function<std::int64_t(double edge)>;

// Where each bin's members start among ascending keys: bin i holds the keys
// from the first that is not below its lower edge up to the next bin's
// start, with the edges of the module's bin partition (bin_scanner), so that
// for keys inside the layout's outer edges these are its bins. m + 1
// positions: keys below the lower outer edge come before the first, keys
// from the upper outer edge on after the last.
std::vector<std::int64_t> bin_starts(const BinLayout& layout, const EdgeSearch& search);

}  // namespace vokip
