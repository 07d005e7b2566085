#include "engine/run/split.h"

#include <algorithm>
#include <cmath>

#include "engine/base/parallel.h"
#include "engine/run/bin_sums.h"

namespace vokip {

namespace {

// Parts of the image summed on their own, taken by the threads in turn:
// more than the two cores vokip runs on, so that a thread slowed by the
// next file's decoding leaves its share to the other (a split batch 6 %
// faster than with two parts, four gave half that; each part of a cake
// keeps its own cells, which costs a cake about as much).
constexpr std::size_t kParts = 8;
// Members whose values are collected for medians at a time, at most.
constexpr std::int64_t kMedianMembers = 1 << 16;

// The cake's azimuth bins as edges of chi counted from the first bin's
// lower edge. Over a whole circle they run three turns, from -360 to 720
// degrees, so that a footprint across the first edge wraps round: edge bin
// k stands for azimuth bin k mod count.
class AzimuthAxis {
 public:
  explicit AzimuthAxis(const AzimuthBins& bins)
      : count_(bins.count),
        from_(bins.from_deg),
        circle_(bins.count * bins.width_deg >= 360),
        edges_(edges_of(bins, circle_)) {}

  const Edges& edges() const { return edges_; }

  // What chi is moved by so that the centre's lies from 0 up to 360 past
  // the first edge, and its corners beside it.
  double shift(double centre_chi) const {
    double offset = std::fmod(centre_chi - from_, 360.0);
    if (offset < 0) offset += 360;
    return offset - centre_chi;
  }

  // The azimuth bin of an edge bin; -1 for one outside a sector.
  int bin(std::int64_t edge_bin) const {
    if (!circle_) return edge_bin < count_ ? static_cast<int>(edge_bin) : -1;
    return static_cast<int>(edge_bin % count_);
  }

 private:
  static Edges edges_of(const AzimuthBins& bins, bool circle) {
    const int turns = circle ? 3 : 1;
    const double start = circle ? -360 : 0;
    std::vector<double> e(static_cast<std::size_t>(turns * bins.count) + 1);
    for (std::size_t k = 0; k < e.size(); ++k)
      e[k] = start + static_cast<double>(k) * bins.width_deg;
    return Edges(std::move(e));
  }

  int count_;
  double from_;
  bool circle_;
  Edges edges_;
};

// One pixel's values, as the bins take them.
struct PixelValues {
  double signal, norm, value, counts;  // raw - dark, the normalisation, their ratio, raw + dark
};

// Reads the plan's member pixels of an image: a pixel's values, or nothing
// when it does not take part, has no data or lies outside the limits.
class PixelReader {
 public:
  PixelReader(const Plan& plan, const Binning& binning, const Image& image,
              const RunOptions& options)
      : map_(plan.footprints()),
        shares_(binning.shares.empty() ? nullptr : &binning.shares),
        norms_(plan.pixel_norms()),
        darks_(plan.pixel_darks()),
        image_(image),
        low_(options.low.value_or(-INFINITY)),
        high_(options.high.value_or(INFINITY)) {}

  // Whether pixel p has values; outside counts those the limits leave out.
  bool read(std::int64_t p, PixelValues* v, std::int64_t* outside) const {
    if (!(shares_ ? shares_->member(p) : map_.member(p))) return false;
    const double raw = image_.value(p);
    if (raw == 0) return false;
    if (raw < low_ || raw > high_) {
      ++*outside;
      return false;
    }
    const double dark = darks_ ? darks_[p] : 0.0;
    const double norm = norms_ ? norms_[p] : 1.0;
    *v = {raw - dark, norm, (raw - dark) / norm, raw + dark};
    return true;
  }

 private:
  FootprintMap map_;
  const PixelShares* shares_;
  const float* norms_;
  const float* darks_;
  const Image& image_;
  double low_, high_;
};

// Where a pixel's shares of the radial bins come from: the binning's
// shares, its footprint's interval (bbox) or its quadrilateral (full).
enum class Spread { shares, interval, quad };

Spread spread_of(Split split, const Binning& binning) {
  if (split == Split::full) return Spread::quad;
  return binning.shares.empty() ? Spread::interval : Spread::shares;
}

// Calls add(bin, share) for pixel p's shares of the radial bins; corner:
// the index of its first corner.
template <class Add>
void spread_radially(const FootprintMap& map, Spread spread, const Binning& binning, std::int64_t p,
                     std::size_t corner, Add&& add) {
  const Edges& edges = binning.edges;
  if (spread == Spread::shares) {
    binning.shares.spread(p, add);
  } else if (spread == Spread::interval) {
    double low = 0, high = 0;
    map.key_interval(p, &low, &high);
    spread_interval(edges, low, high, add);
  } else {
    spread_quad_radially(edges, map.quad(p, corner), add);
  }
}

// Calls add(radial bin, azimuth bin, share) for pixel p's shares of the
// cake's cells.
template <class Add>
void spread_over_cells(const FootprintMap& map, Split split, const Edges& radial,
                       const AzimuthAxis& azimuth, std::int64_t p, std::size_t corner,
                       std::vector<std::pair<std::int64_t, double>>* radial_shares, Add&& add) {
  auto add_cell = [&](std::int64_t i, std::int64_t edge_bin, double share) {
    const int j = azimuth.bin(edge_bin);
    if (j >= 0) add(i, j, share);
  };
  const double shift = azimuth.shift(map.centre_chi[p]);
  if (split == Split::full) {
    Quad q = map.quad(p, corner);
    for (double& y : q.y) y += shift;
    spread_quad(radial, azimuth.edges(), q, add_cell);
    return;
  }
  // The footprint's rectangle: the share of its radial interval times that
  // of its chi interval.
  double low = 0, high = 0;
  map.key_interval(p, &low, &high);
  radial_shares->clear();
  spread_interval(radial, low, high, [&](std::int64_t i, double share) {
    radial_shares->push_back({i, share});
  });
  if (radial_shares->empty()) return;
  map.chi_interval(p, &low, &high);
  spread_interval(azimuth.edges(), low + shift, high + shift, [&](std::int64_t j, double share) {
    for (const auto& [i, radial_share] : *radial_shares) add_cell(i, j, radial_share * share);
  });
}

// What a cake's cell is made from: the sums of f, f s and f n.
struct CellSum {
  double share = 0, signal = 0, norm = 0;
};

// One thread's sums over its rows.
struct StreamSums {
  std::vector<BinSum> profile;
  std::vector<CellSum> cake;
  std::int64_t used = 0, outside = 0;
};

// What the rows of an image are streamed through.
struct Stream {
  PixelReader reader;
  FootprintMap map;
  const Binning& binning;
  AzimuthAxis azimuth;
  int width;
  std::size_t cake_bins;  // radial bins of the cake
};

// Rows first to last - 1 into one thread's sums: each pixel's shares of
// the bins (and cells), or with kAccumulate false only whether it has one.
template <Spread kSpread, bool kAccumulate, bool kCake>
__attribute__((noinline)) void stream_rows(const Stream& st, int first, int last, StreamSums* s) {
  constexpr Split kSplit = kSpread == Spread::quad ? Split::full : Split::bbox;
  std::int64_t used = 0, outside = 0;
  BinSum* profile = s->profile.data();
  std::vector<std::pair<std::int64_t, double>> radial_shares;
  for (int row = first; row < last; ++row) {
    const std::int64_t row_start = std::int64_t{row} * st.width;
    const std::size_t corner_start = static_cast<std::size_t>(row) * (st.width + 1);
    for (int column = 0; column < st.width; ++column) {
      const std::int64_t pixel = row_start + column;
      const std::size_t corner = corner_start + static_cast<std::size_t>(column);
      PixelValues v;
      if (!st.reader.read(pixel, &v, &outside)) continue;
      bool has_share = false;
      const BinSum::Terms terms = BinSum::terms(v.signal, v.norm, v.value, v.counts);
      spread_radially(st.map, kSpread, st.binning, pixel, corner,
                      [&](std::int64_t bin, double share) {
                        has_share = true;
                        if (kAccumulate) profile[bin].add(share, terms);
                      });
      used += has_share;
      if (!kCake) continue;
      spread_over_cells(st.map, kSplit, st.binning.cake_edges, st.azimuth, pixel, corner,
                        &radial_shares, [&](std::int64_t i, int j, double share) {
                          CellSum& cell = s->cake[static_cast<std::size_t>(j) * st.cake_bins + i];
                          cell.share += share;
                          cell.signal += share * v.signal;
                          cell.norm += share * v.norm;
                        });
    }
  }
  s->used += used;
  s->outside += outside;
}

template <Spread kSpread>
void stream_rows(const Stream& st, bool accumulate, bool cake, int first, int last, StreamSums* s) {
  if (!accumulate) return stream_rows<kSpread, false, false>(st, first, last, s);
  if (cake) return stream_rows<kSpread, true, true>(st, first, last, s);
  stream_rows<kSpread, true, false>(st, first, last, s);
}

// The means: every pixel of the image, in its own order, spread over the
// bins and cells, each thread summing its rows into sums of its own. With
// accumulate false, only the tally.
SplitTally stream(const Plan& plan, const Image& image, const RunOptions& options,
                  const Binning& binning, bool accumulate, Profile* p,
                  std::vector<Workspace>* workspaces) {
  const Spread spread = spread_of(plan.parameters().split, binning);
  const int width = plan.parameters().width, height = plan.parameters().height;
  const std::size_t m = binning.edges.bins();
  const bool cake = accumulate && plan.azimuth_bins().count > 0;
  const std::size_t cells = cake ? p->cake.count.size() : 0;
  const Stream st{PixelReader(plan, binning, image, options),
                  plan.footprints(),
                  binning,
                  AzimuthAxis(plan.azimuth_bins()),
                  width,
                  p->cake.centre.size()};
  // The image in a fixed number of parts of rows, each summed on its own and
  // the parts added in order: the same sums however many threads there are.
  std::vector<StreamSums> sums(kParts);
  for (StreamSums& s : sums) {
    if (!accumulate) break;
    s.profile.resize(m);
    s.cake.resize(cells);
  }
  share_tasks(kParts, workspaces->size(), [&](std::size_t part, std::size_t) {
    const int first = static_cast<int>(height * part / kParts);
    const int last = static_cast<int>(height * (part + 1) / kParts);
    switch (spread) {
      case Spread::shares:
        return stream_rows<Spread::shares>(st, accumulate, cake, first, last, &sums[part]);
      case Spread::interval:
        return stream_rows<Spread::interval>(st, accumulate, cake, first, last, &sums[part]);
      case Spread::quad:
        return stream_rows<Spread::quad>(st, accumulate, cake, first, last, &sums[part]);
    }
  });

  SplitTally tally;
  for (std::size_t t = 0; t < sums.size(); ++t) {
    tally.used += sums[t].used;
    tally.outside_limits += sums[t].outside;
    if (t == 0 || !accumulate) continue;
    for (std::size_t i = 0; i < m; ++i) sums[0].profile[i].add(sums[t].profile[i]);
    for (std::size_t k = 0; k < cells; ++k) {
      sums[0].cake[k].share += sums[t].cake[k].share;
      sums[0].cake[k].signal += sums[t].cake[k].signal;
      sums[0].cake[k].norm += sums[t].cake[k].norm;
    }
  }
  if (!accumulate) return tally;
  for (std::size_t i = 0; i < m; ++i) {
    const BinSum& total = sums[0].profile[i];
    p->count[i] = total.share();
    if (total.share() == 0) continue;
    p->value[i] = total.mean();
    p->variance[i] = total.variance();
    p->spread[i] = total.dispersion();
    p->standard_error[i] = total.standard_error(p->variance[i]);
    if (options.error_model == ErrorModel::poisson) p->sigma[i] = total.counting_error();
  }
  for (std::size_t k = 0; k < cells; ++k) {
    p->cake.count[k] = sums[0].cake[k].share;
    p->cake.value[k] = sums[0].cake[k].signal / sums[0].cake[k].norm;
  }
  return tally;
}

// The medians of the bins of a layout: chunks of bins, each with the
// members whose footprints can reach them (those with centres within the
// largest half-width of the chunk's edges), collected, grouped by bin or
// cell and their weighted medians taken. store(bin or cell, median).
template <class Spread, class Store>
void medians(const Plan& plan, const Binning& binning, const Image& image,
             const RunOptions& options, const Edges& edges, std::size_t per_bin,
             std::vector<Workspace>* workspaces, Spread&& spread, Store&& store) {
  const PixelReader reader(plan, binning, image, options);
  const FootprintMap map = plan.footprints();
  const PixelList members = plan.members();
  const double reach =
      binning.shares.empty() ? plan.largest_half_width() : binning.shares.largest_half_width;
  // Chunks of bins holding about kMedianMembers members' centres each.
  std::vector<std::int64_t> chunk_starts = {0};
  const std::int64_t bins = edges.bins();
  for (std::int64_t bin = 1, first = plan.first_member_not_below(edges.lower(0)); bin <= bins;
       ++bin) {
    const std::int64_t next = plan.first_member_not_below(edges.lower(bin));
    if (bin == bins || next - first >= kMedianMembers) {
      chunk_starts.push_back(bin);
      first = next;
    }
  }
  struct Buffers {
    std::vector<Share> collected, grouped;
    std::vector<std::size_t> starts;
  };
  std::vector<Buffers> buffers(workspaces->size());
  share_tasks(chunk_starts.size() - 1, workspaces->size(), [&](std::size_t k, std::size_t thread) {
    const std::int64_t a = chunk_starts[k], b = chunk_starts[k + 1];
    Buffers& u = buffers[thread];
    u.collected.clear();
    const std::int64_t from = plan.first_member_not_below(edges.lower(a) - reach);
    const std::int64_t to = plan.first_member_not_below(edges.lower(b) + reach);
    std::int64_t outside = 0;
    for (std::int64_t member = from; member < to; ++member) {
      const std::uint32_t pixel = members.pixels[member];
      PixelValues v;
      if (!reader.read(pixel, &v, &outside)) continue;
      spread(map, pixel, map.corner_of(pixel),
             [&](std::int64_t bin, std::size_t sub, double share) {
               if (bin < a || bin >= b) return;
               const std::size_t group = static_cast<std::size_t>(bin - a) * per_bin + sub;
               u.collected.push_back({group, v.value, share, v.norm, v.counts});
             });
    }
    // Grouped by bin (and cell) by counting, each group's median taken.
    const std::size_t groups = static_cast<std::size_t>(b - a) * per_bin;
    u.starts.assign(groups + 1, 0);
    for (const Share& s : u.collected) ++u.starts[s.bin + 1];
    for (std::size_t g = 0; g < groups; ++g) u.starts[g + 1] += u.starts[g];
    u.grouped.resize(u.collected.size());
    std::vector<std::size_t> next(u.starts.begin(), u.starts.end() - 1);
    for (const Share& s : u.collected) u.grouped[next[s.bin]++] = s;
    for (std::size_t g = 0; g < groups; ++g) {
      if (u.starts[g] == u.starts[g + 1]) continue;
      store(a + static_cast<std::int64_t>(g / per_bin), g % per_bin,
            weighted_median(u.grouped.data() + u.starts[g], u.grouped.data() + u.starts[g + 1]));
    }
  });
}

}  // namespace

SplitTally reduce_split(const Plan& plan, const Image& image, const RunOptions& options,
                        const Binning& binning, Profile* p, std::vector<Workspace>* workspaces) {
  if (options.statistic == Statistic::mean) {
    return stream(plan, image, options, binning, true, p, workspaces);
  }
  const Split split = plan.parameters().split;
  const Spread spread = spread_of(split, binning);
  medians(
      plan, binning, image, options, binning.edges, 1, workspaces,
      [&](const FootprintMap& map, std::int64_t pixel, std::size_t corner, auto&& add) {
        spread_radially(map, spread, binning, pixel, corner,
                        [&](std::int64_t bin, double share) { add(bin, 0, share); });
      },
      [&](std::int64_t bin, std::size_t, const Median& m) {
        p->count[bin] = m.count;
        p->value[bin] = m.value;
        p->variance[bin] = m.variance;
        p->spread[bin] = m.spread;
        p->standard_error[bin] = m.standard_error;
        if (options.error_model == ErrorModel::poisson) p->sigma[bin] = m.counting_error;
      });
  if (plan.azimuth_bins().count > 0) {
    const AzimuthAxis azimuth(plan.azimuth_bins());
    const std::size_t cm = p->cake.centre.size();
    medians(
        plan, binning, image, options, binning.cake_edges,
        static_cast<std::size_t>(plan.azimuth_bins().count), workspaces,
        [&](const FootprintMap& map, std::int64_t pixel, std::size_t corner, auto&& add) {
          thread_local std::vector<std::pair<std::int64_t, double>> shares;
          spread_over_cells(map, split, binning.cake_edges, azimuth, pixel, corner, &shares,
                            [&](std::int64_t i, int j, double share) {
                              add(i, static_cast<std::size_t>(j), share);
                            });
        },
        [&](std::int64_t i, std::size_t j, const Median& m) {
          const std::size_t cell = j * cm + static_cast<std::size_t>(i);
          p->cake.count[cell] = m.count;
          p->cake.value[cell] = m.value;
        });
  }
  // The tally: which pixels have a share in some bin.
  return stream(plan, image, options, binning, false, p, workspaces);
}

}  // namespace vokip
