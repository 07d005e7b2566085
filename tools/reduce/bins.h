// Bin centres for a profile and the edges the integration derives from them:
// the midpoints between neighbouring centres, with the outer edges half a
// spacing beyond the first and last centre.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct BinRequest {
  std::optional<std::int64_t> count;  // number of bins
  std::optional<double> width;        // or their width (at most one of the two)
  std::optional<double> low, high;    // range ends; the data's extent where absent
};

struct BinLayout {
  std::vector<double> centres;
  std::vector<double> edges;  // centres.size() + 1, ascending
  double width = 0;
};

// Evenly spaced centres over the range. data_low and data_high are the
// smallest and largest key; default_count applies when neither count nor
// width is given. False and a message when the request cannot be met.
bool lay_out_bins(const BinRequest& request, double data_low, double data_high,
                  std::int64_t default_count, BinLayout* layout, std::string* error);

// First index whose key is not below the edge (keys ascending), or n.
std::int64_t first_not_below(const double* keys, std::int64_t n, double edge);

// Members per bin of ascending keys that all lie inside the outer edges.
std::vector<std::int64_t> bin_counts(const BinLayout& layout, const double* keys, std::int64_t n);
