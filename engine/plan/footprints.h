// Spreading a pixel over the bins it covers, as pyFAI and Dioptas split
// pixels: the pixel's footprint on the radial axis (and around the beam, for
// the cake), and the share of it that falls in each bin. A share is of the
// whole footprint, so the part of a pixel outside every bin is lost rather
// than crowded into the bins at the ends.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/memory/huge_pages.h"
#include "engine/profile/profile.h"

namespace vokip {

// Consecutive bins: bin i spans edges[i] up to, not including, edges[i + 1].
class Edges {
 public:
  Edges() = default;
  explicit Edges(std::vector<double> edges)
      : edges_(std::move(edges)),
        per_bin_(static_cast<double>(bins()) / (edges_.back() - edges_.front())) {}

  std::int64_t bins() const { return static_cast<std::int64_t>(edges_.size()) - 1; }
  double lower(std::int64_t i) const { return edges_[static_cast<std::size_t>(i)]; }
  double upper(std::int64_t i) const { return edges_[static_cast<std::size_t>(i) + 1]; }

  // The bin that holds x: -1 below the first edge, bins() from the last on
  // (and for NaN). The edges are even but for rounding: the guess from the
  // mean spacing is off by a bin at most, which the edges themselves settle
  // (without branches; the loops only guard uneven edges).
  std::int64_t bin_of(double x) const {
    const std::int64_t m = bins();
    if (!(x >= edges_.front())) return x < edges_.front() ? -1 : m;
    if (x >= edges_.back()) return m;
    std::int64_t i = std::min(static_cast<std::int64_t>((x - edges_.front()) * per_bin_), m - 1);
    i -= x < lower(i);
    i += x >= upper(i);
    while (x < lower(i)) --i;
    while (x >= upper(i)) ++i;
    return i;
  }

 private:
  std::vector<double> edges_;
  double per_bin_ = 0;  // bins per unit of x
};

// Calls add(bin, share) for each bin that the interval [low, high] meets,
// with the share of the interval's length inside it. An interval of no
// length is whole in the bin that holds it.
template <class Add>
void spread_interval(const Edges& edges, double low, double high, Add&& add) {
  const double length = high - low;
  if (!(length > 0)) {
    const std::int64_t bin = edges.bin_of(low);
    if (bin >= 0 && bin < edges.bins()) add(bin, 1.0);
    return;
  }
  const std::int64_t first = edges.bin_of(low), last = edges.bin_of(high);
  if (first == last) {
    if (first >= 0 && first < edges.bins()) add(first, 1.0);
    return;
  }
  // The first and last bins hold part of the interval, those between all
  // of theirs.
  const double per_length = 1 / length;
  if (first >= 0) add(first, (edges.upper(first) - low) * per_length);
  for (std::int64_t bin = std::max<std::int64_t>(first + 1, 0); bin < std::min(last, edges.bins());
       ++bin) {
    add(bin, (edges.upper(bin) - edges.lower(bin)) * per_length);
  }
  if (last < edges.bins() && high > edges.lower(last)) {
    add(last, (high - edges.lower(last)) * per_length);
  }
}

// Each pixel's shares of the bins its footprint on one set of edges meets,
// worked out once for a binning so that an image only adds them (bbox
// splitting without a cake). The bins met are consecutive: the first takes
// one share, each inner bin an equal one (the edges are even, so their
// shares differ by rounding at most), the last its own. Shares are kept in
// single precision, as pyFAI keeps its own.
class PixelShares {
 public:
  PixelShares() = default;
  // Room for every pixel, each to be set once: the threads that set them
  // are the first to touch their memory.
  explicit PixelShares(std::int64_t pixels)
      : entries_(
            static_cast<Entry*>(allocate_large(static_cast<std::size_t>(pixels) * sizeof(Entry))),
            Release{static_cast<std::size_t>(pixels) * sizeof(Entry)}) {}

  bool empty() const { return !entries_; }
  bool member(std::int64_t p) const { return entry(p).count != kOutside; }

  // Pixel p does not take part.
  void leave_out(std::int64_t p) {
    entries_[static_cast<std::size_t>(p)] = {0, kOutside, {0, 0, 0}};
  }

  // Pixel p takes part, its footprint spanning low .. high over the edges.
  void set(std::int64_t p, const Edges& edges, double low, double high) {
    Entry& e = entries_[static_cast<std::size_t>(p)];
    e = {0, 0, {0, 0, 0}};
    spread_interval(edges, low, high, [&](std::int64_t bin, double share) {
      if (e.count == 0) {
        e.first = static_cast<std::int32_t>(bin);
        e.shares[0] = static_cast<float>(share);
      } else {
        if (e.count == 1) e.shares[1] = static_cast<float>(share);  // the first inner bin's
        e.shares[2] = static_cast<float>(share);                    // the last so far
      }
      ++e.count;
    });
  }

  // Calls add(bin, share) for pixel p's shares, as spread_interval would.
  template <class Add>
  void spread(std::int64_t p, Add&& add) const {
    const Entry& e = entry(p);
    if (e.count <= 0) return;
    add(e.first, e.shares[0]);
    const std::int64_t last = std::int64_t{e.first} + e.count - 1;
    for (std::int64_t bin = std::int64_t{e.first} + 1; bin < last; ++bin) add(bin, e.shares[1]);
    if (e.count > 1) add(last, e.shares[2]);
  }

  // The largest half-width of any footprint: a pixel's shares lie within it
  // of its centre.
  double largest_half_width = 0;

 private:
  static constexpr std::int32_t kOutside = -1;  // the count of a pixel that does not take part
  struct Entry {
    std::int32_t first;
    std::int32_t count;
    float shares[3];  // the first bin's, an inner bin's, the last's
  };
  const Entry& entry(std::int64_t p) const { return entries_[static_cast<std::size_t>(p)]; }

  struct Release {
    std::size_t bytes;
    void operator()(Entry* entries) const { release_large(entries, bytes); }
  };
  std::unique_ptr<Entry[], Release> entries_;
};

// A pixel's quadrilateral: its corners in order around it, x on the radial
// axis and y around the beam.
struct Quad {
  double x[4], y[4];
};

// A polygon of at most eight corners: a quadrilateral cut by up to four lines.
struct Polygon {
  double x[8], y[8];
  int corners = 0;

  // The area (shoelace), positive whichever way round the corners run.
  double area() const {
    double twice = 0;
    for (int k = 0, previous = corners - 1; k < corners; previous = k++) {
      twice += x[previous] * y[k] - x[k] * y[previous];
    }
    return std::fabs(twice) / 2;
  }

  // The part on the side of the line coordinate(axis) = at where
  // coordinate < at (keep_below) or coordinate >= at.
  Polygon cut(bool along_x, double at, bool keep_below) const {
    Polygon kept;
    for (int k = 0, previous = corners - 1; k < corners; previous = k++) {
      const double a = along_x ? x[previous] : y[previous], b = along_x ? x[k] : y[k];
      const bool a_in = keep_below ? a < at : a >= at;
      const bool b_in = keep_below ? b < at : b >= at;
      if (a_in != b_in) {
        const double t = (at - a) / (b - a);
        kept.x[kept.corners] = x[previous] + t * (x[k] - x[previous]);
        kept.y[kept.corners] = y[previous] + t * (y[k] - y[previous]);
        ++kept.corners;
      }
      if (b_in) {
        kept.x[kept.corners] = x[k];
        kept.y[kept.corners] = y[k];
        ++kept.corners;
      }
    }
    return kept;
  }
};

inline Polygon polygon_of(const Quad& q) {
  Polygon p;
  for (int k = 0; k < 4; ++k) {
    p.x[k] = q.x[k];
    p.y[k] = q.y[k];
  }
  p.corners = 4;
  return p;
}

// Calls add(bin, share) for each radial bin with the share of the quad's
// area between the bin's edges. A quad of no area counts whole in the bin of
// its first corner.
template <class Add>
void spread_quad_radially(const Edges& edges, const Quad& quad, Add&& add) {
  const Polygon whole = polygon_of(quad);
  const double area = whole.area();
  const double low = std::min({quad.x[0], quad.x[1], quad.x[2], quad.x[3]});
  const double high = std::max({quad.x[0], quad.x[1], quad.x[2], quad.x[3]});
  if (!(area > 0)) {
    spread_interval(edges, quad.x[0], quad.x[0], add);
    return;
  }
  const std::int64_t first = std::max<std::int64_t>(edges.bin_of(low), 0);
  const std::int64_t last = std::min(edges.bin_of(high), edges.bins() - 1);
  // The area below each edge, from one edge to the next.
  double below =
      first == 0 && edges.lower(0) > low ? whole.cut(true, edges.lower(0), true).area() : 0;
  for (std::int64_t bin = first; bin <= last; ++bin) {
    const double upper = edges.upper(bin);
    const double up_to = upper > high ? area : whole.cut(true, upper, true).area();
    if (up_to > below) add(bin, (up_to - below) / area);
    below = up_to;
  }
}

// Calls add(radial bin, azimuth bin, share) for each cell the quad meets,
// with the share of its area inside the cell. Azimuth bins are counted from
// 0 at the first one and may lie outside 0 .. azimuth.bins() - 1; the caller
// wraps them around the circle or leaves them out.
template <class Add>
void spread_quad(const Edges& radial, const Edges& azimuth, const Quad& quad, Add&& add) {
  const Polygon whole = polygon_of(quad);
  const double area = whole.area();
  const double x_low = std::min({quad.x[0], quad.x[1], quad.x[2], quad.x[3]});
  const double x_high = std::max({quad.x[0], quad.x[1], quad.x[2], quad.x[3]});
  const double y_low = std::min({quad.y[0], quad.y[1], quad.y[2], quad.y[3]});
  const double y_high = std::max({quad.y[0], quad.y[1], quad.y[2], quad.y[3]});
  if (!(area > 0)) {
    const std::int64_t i = radial.bin_of(quad.x[0]), j = azimuth.bin_of(quad.y[0]);
    if (i >= 0 && i < radial.bins() && j >= 0 && j < azimuth.bins()) add(i, j, 1.0);
    return;
  }
  const std::int64_t i_first = std::max<std::int64_t>(radial.bin_of(x_low), 0);
  const std::int64_t i_last = std::min(radial.bin_of(x_high), radial.bins() - 1);
  const std::int64_t j_first = std::max<std::int64_t>(azimuth.bin_of(y_low), 0);
  const std::int64_t j_last = std::min(azimuth.bin_of(y_high), azimuth.bins() - 1);
  for (std::int64_t i = i_first; i <= i_last; ++i) {
    const Polygon strip = whole.cut(true, radial.lower(i), false).cut(true, radial.upper(i), true);
    if (strip.corners < 3) continue;
    for (std::int64_t j = j_first; j <= j_last; ++j) {
      const double inside =
          strip.cut(false, azimuth.lower(j), false).cut(false, azimuth.upper(j), true).area();
      if (inside > 0) add(i, j, inside / area);
    }
  }
}

// A chi brought to within 180 degrees of another's.
inline double beside(double chi, double other) {
  double d = chi - other;
  if (d > 180) d -= 360;
  if (d < -180) d += 360;
  return other + d;
}

// Where each pixel of an image lies, for splitting. With bbox splitting, its
// centre's key (NaN for a pixel that does not take part) and chi, and the
// half-widths of its footprint around them: the largest distance of its
// corners' keys (and chi) from its centre's. With full splitting, its
// centre's chi (NaN for a pixel that does not take part) and its corners'
// keys and chi on a grid one larger each way: pixel (c, r) has the corners
// (c, r), (c + 1, r), (c + 1, r + 1) and (c, r + 1) in order around it.
struct FootprintMap {
  std::int64_t width = 0;  // pixels per row
  const double* centre_keys = nullptr;
  const float* key_half_widths = nullptr;
  const float* centre_chi = nullptr;  // null without chi
  const float* chi_half_widths = nullptr;
  const double* corner_keys = nullptr;
  const float* corner_chi = nullptr;

  bool member(std::int64_t p) const {
    return centre_keys ? !std::isnan(centre_keys[p]) : !std::isnan(centre_chi[p]);
  }

  // The index of pixel p's first corner.
  std::size_t corner_of(std::int64_t p) const {
    return static_cast<std::size_t>(p / width * (width + 1) + p % width);
  }

  // The pixel's footprint on the keys' axis (bbox); keys are not negative,
  // so a footprint over the beam is cut at 0.
  void key_interval(std::int64_t p, double* low, double* high) const {
    const double c = centre_keys[p], d = key_half_widths[p];
    *low = std::max(c - d, 0.0);
    *high = c + d;
  }

  // The same around the beam, in degrees of chi about the centre's (bbox).
  void chi_interval(std::int64_t p, double* low, double* high) const {
    const double c = centre_chi[p], d = chi_half_widths[p];
    *low = c - d;
    *high = c + d;
  }

  // The corners' keys and chi, chi beside the centre's (full).
  Quad quad(std::int64_t p, std::size_t corner) const {
    const std::size_t below = corner + static_cast<std::size_t>(width) + 1;
    const std::size_t around[4] = {corner, corner + 1, below + 1, below};
    const double c = centre_chi[p];
    Quad q;
    for (int k = 0; k < 4; ++k) {
      q.x[k] = corner_keys[around[k]];
      q.y[k] = beside(corner_chi[around[k]], c);
    }
    return q;
  }
};

}  // namespace vokip
