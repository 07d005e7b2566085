#include "engine/run/reduce.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "engine/base/error.h"
#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"

namespace vokip {

namespace {

// Members gathered and integrated at a time: their keys and values stay in
// the processor's cache between the two. A chunk also spans enough bins for
// the mean's core to work on many bins side by side.
constexpr std::int64_t kChunkMembers = 1 << 15;
constexpr std::int64_t kChunkBins = 64;

// How far ahead of the gather the image's pixels are asked for: reads at
// random places of the image overlap instead of waiting one by one.
constexpr std::int64_t kPrefetchAhead = 24;

std::int64_t nonzero_count(const Image& image, const PixelList& list) {
  std::int64_t n = 0;
  for (std::int64_t k = 0; k < list.size; ++k) n += image.value(list.pixels[k]) != 0;
  return n;
}

// One row of bins to integrate: the profile, or one azimuth bin of the cake,
// with the order its positions refer to (the members', or the cake's).
struct Row {
  const std::uint32_t* pixels;  // each position's pixel
  const double* factors;        // each position's 1 / correction factor; null: none
  const float* darks;           // each position's dark value; null: none
  const std::int64_t*
      starts;  // bins + 1 positions: bin b's members at starts[b] .. starts[b + 1] - 1
  double* value;
  double* variance;       // null: not kept
  double* spread;         // null: not kept
  double* variance_sums;  // per bin, for the counting error model; null: not kept
  std::int64_t* count;
  bool tally;  // counts the pixels the limits leave out
};

// Bins a to b - 1 of a row as one call of the integration core, on their
// members' corrected values, 0s (and values outside the limits) left out.
// The plan knows each bin's members, so each member's key is given as its
// bin's centre, which lies inside the bin: the core reads keys only to find
// the bins' members. Each bin's result depends only on its members, so the
// call is given the centres around the chunk: from the centre before a
// (with no members: its bin comes out empty and is dropped) to the centre
// after b - 1, from which the core's edges are those of one call over every
// bin. The results equal those of that one call.
class ChunkIntegrator {
 public:
  ChunkIntegrator(const Plan& plan, const Image& image, const BinLayout& layout,
                  const RunOptions& options)
      : image_(image),
        last_position_(plan.members().size - 1),
        centres_(layout.centres.data()),
        m_(static_cast<std::int64_t>(layout.centres.size())),
        options_(options) {}

  // Returns the pixels the limits left out.
  std::int64_t run(const Row& row, std::int64_t a, std::int64_t b, Workspace* w) const {
    const std::int64_t most = row.starts[b] - row.starts[a];
    if (static_cast<std::int64_t>(w->keys.size()) < most) {
      w->keys.resize(static_cast<std::size_t>(most));
      w->values.resize(static_cast<std::size_t>(most));
    }
    const bool corrected = row.factors || row.darks;
    const bool limited = options_.low || options_.high;
    std::int64_t outside_limits = 0;
    std::int64_t n = 0;
    if (corrected) {
      n = limited ? gather<true, true>(row, a, b, w, &outside_limits)
                  : gather<true, false>(row, a, b, w, &outside_limits);
    } else {
      n = limited ? gather<false, true>(row, a, b, w, &outside_limits)
                  : gather<false, false>(row, a, b, w, &outside_limits);
    }

    const std::int64_t first_centre = a == 0 ? 0 : a - 1;
    const std::int64_t centres = std::min(b + 1, m_) - first_centre;
    const std::int64_t bins = b - first_centre;
    w->value.assign(static_cast<std::size_t>(bins), 0.0);
    w->variance.assign(static_cast<std::size_t>(bins), 0.0);
    w->spread.assign(static_cast<std::size_t>(bins), 0.0);
    const double* c = centres_ + first_centre;
    if (options_.statistic == Statistic::median) {
      if (!integrate_median(w->keys.data(), n, w->values.data(), c, centres, w->value.data(),
                            w->variance.data(), w->spread.data(), bins)) {
        throw Error("out of memory for the medians");
      }
    } else {
      integrate_mean(w->keys.data(), n, w->values.data(), c, centres, w->value.data(),
                     w->variance.data(), w->spread.data(), bins);
    }
    const std::int64_t skip = a - first_centre;
    std::copy(w->value.begin() + skip, w->value.end(), row.value + a);
    if (row.variance) std::copy(w->variance.begin() + skip, w->variance.end(), row.variance + a);
    if (row.spread) std::copy(w->spread.begin() + skip, w->spread.end(), row.spread + a);
    return row.tally ? outside_limits : 0;
  }

 private:
  // The values of bins a to b - 1 into the workspace, each with its bin's
  // centre as its key; returns how many. One loop per kind of correction,
  // so that the loop the data need has no tests of the others. Kept out of
  // run(): inlined there, the four loops were about 10 % slower
  // (bench_reduce).
  template <bool kCorrected, bool kLimited>
  __attribute__((noinline)) std::int64_t gather(const Row& row, std::int64_t a, std::int64_t b,
                                                Workspace* w, std::int64_t* outside_limits) const {
    const double low = options_.low.value_or(-INFINITY), high = options_.high.value_or(INFINITY);
    double* keys = w->keys.data();
    double* values = w->values.data();
    const std::uint32_t* pixels = row.pixels;
    const double* factors = row.factors;
    const float* darks = row.darks;
    std::int64_t n = 0;
    for (std::int64_t bin = a; bin < b; ++bin) {
      const std::int64_t before = n;
      const double key = centres_[bin];
      double variance_sum = 0;
      const std::int64_t end = row.starts[bin + 1];
      for (std::int64_t position = row.starts[bin]; position < end; ++position) {
        image_.prefetch(pixels[std::min(position + kPrefetchAhead, last_position_)]);
        const std::uint32_t raw = image_.value(pixels[position]);
        if (raw == 0) continue;
        if (kLimited && (raw < low || raw > high)) {
          ++*outside_limits;
          continue;
        }
        keys[n] = key;
        if (kCorrected) {
          const double dark = darks ? darks[position] : 0.0;
          const double inverse_factor = factors ? factors[position] : 1.0;
          values[n] = (raw - dark) * inverse_factor;
          variance_sum += (raw + dark) * inverse_factor * inverse_factor;
        } else {
          values[n] = raw;
          variance_sum += raw;
        }
        ++n;
      }
      row.count[bin] = n - before;
      if (row.variance_sums) row.variance_sums[bin] = variance_sum;
    }
    return n;
  }

  const Image& image_;
  std::int64_t last_position_;  // the same in both orders
  const double* centres_;
  std::int64_t m_;
  const RunOptions& options_;
};

// A row's consecutive bins grouped into chunks of about kChunkMembers
// members.
struct Chunk {
  const Row* row;
  std::int64_t a, b;     // bins a .. b - 1
  std::int64_t members;  // at most
};

void add_chunks(const Row& row, std::int64_t m, std::vector<Chunk>* chunks) {
  std::int64_t a = 0;
  for (std::int64_t bin = 1; bin <= m; ++bin) {
    const std::int64_t members = row.starts[bin] - row.starts[a];
    if (bin == m || (members >= kChunkMembers && bin - a >= kChunkBins)) {
      chunks->push_back({&row, a, bin, members});
      a = bin;
    }
  }
}

// Integrates the chunks on as many threads as there are workspaces, each
// thread taking the next chunk not yet taken: chunks of cake rows, whose
// members are spread over the image, cost more per member than the
// profile's. Each chunk's results are its own, so they do not depend on
// which thread ran it. Returns the pixels the limits left out.
std::int64_t integrate_chunks(const ChunkIntegrator& integrator, const std::vector<Chunk>& chunks,
                              std::vector<Workspace>* workspaces) {
  const std::size_t threads = std::max<std::size_t>(1, std::min(workspaces->size(), chunks.size()));
  std::atomic<std::size_t> next_chunk{0};
  std::vector<std::int64_t> outside(threads, 0);
  std::vector<std::exception_ptr> failures(threads);
  auto run_chunks = [&](std::size_t s) {
    try {
      for (std::size_t k = next_chunk++; k < chunks.size(); k = next_chunk++) {
        const Chunk& c = chunks[k];
        outside[s] += integrator.run(*c.row, c.a, c.b, &(*workspaces)[s]);
      }
    } catch (...) {
      failures[s] = std::current_exception();
      next_chunk = chunks.size();
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t s = 1; s < threads; ++s) helpers.emplace_back(run_chunks, s);
  run_chunks(0);
  for (std::thread& h : helpers) h.join();
  for (const std::exception_ptr& f : failures) {
    if (f) std::rethrow_exception(f);
  }
  std::int64_t sum = 0;
  for (std::int64_t o : outside) sum += o;
  return sum;
}

}  // namespace

Profile reduce_image(const Plan& plan, const Image& image, const RunOptions& options,
                     std::vector<Workspace>* workspaces) {
  const PlanParameters& parameters = plan.parameters();
  if (image.width() != parameters.width || image.height() != parameters.height) {
    throw Error("the image is " + std::to_string(image.width()) + " x " +
                std::to_string(image.height()) + " pixels, the plan's " +
                std::to_string(parameters.width) + " x " + std::to_string(parameters.height));
  }
  Profile p;
  p.unit = parameters.unit;
  p.statistic = options.statistic;
  p.error_model = options.error_model;
  PixelTally& t = p.pixels;
  t.total = image.pixels();
  t.zero = image.zero_count();
  t.masked = nonzero_count(image, plan.masked());
  t.off_sector = nonzero_count(image, plan.off_sector());
  const std::int64_t kept = t.total - t.zero - t.masked - t.off_sector;
  if (kept == 0) throw Error("no pixel left: every one is zero, masked or outside the sector");

  // The extent of the image's data on the unit's axis.
  const PixelList members = plan.members();
  std::int64_t first = 0, last = members.size - 1;
  while (first < members.size && image.value(members.pixels[first]) == 0) ++first;
  if (first == members.size) throw Error("no pixel has an angle (the geometry gives none)");
  while (image.value(members.pixels[last]) == 0) --last;
  const std::shared_ptr<const Binning> binning =
      plan.binning(plan.member_key(first), plan.member_key(last));

  const std::size_t m = binning->layout.centres.size();
  p.centre = binning->layout.centres;
  p.bin_width = binning->layout.width;
  p.count.assign(m, 0);
  p.value.assign(m, 0.0);
  p.variance.assign(m, 0.0);
  p.spread.assign(m, 0.0);
  if (options.error_model != ErrorModel::none) p.sigma.assign(m, 0.0);

  const ChunkIntegrator integrator(plan, image, binning->layout, options);
  std::vector<double> variance_sums(options.error_model == ErrorModel::poisson ? m : 0);
  const Row profile_row{members.pixels,  plan.inverse_factors(),
                        plan.darks(),    binning->starts.data(),
                        p.value.data(),  p.variance.data(),
                        p.spread.data(), variance_sums.empty() ? nullptr : variance_sums.data(),
                        p.count.data(),  true};
  std::vector<Chunk> chunks;
  add_chunks(profile_row, static_cast<std::int64_t>(m), &chunks);

  // The cake's rows: one per azimuth bin, its members in the cake's order.
  Cake& cake = p.cake;
  std::vector<Row> cake_rows;
  if (plan.azimuth_bins().count > 0) {
    cake.azimuth = plan.azimuth_bins();
    const std::size_t rows = static_cast<std::size_t>(cake.azimuth.count);
    cake.value.assign(rows * m, 0.0);
    cake.count.assign(rows * m, 0);
    cake_rows.reserve(rows);
    for (std::size_t j = 0; j < rows; ++j) {
      cake_rows.push_back({plan.cake_pixels(), plan.cake_inverse_factors(), plan.cake_darks(),
                           binning->cake_starts.data() + j * (m + 1), cake.value.data() + j * m,
                           nullptr, nullptr, nullptr, cake.count.data() + j * m, false});
      add_chunks(cake_rows.back(), static_cast<std::int64_t>(m), &chunks);
    }
  }
  t.outside_limits = integrate_chunks(integrator, chunks, workspaces);

  for (std::int64_t c : p.count) t.used += c;
  t.off_range = kept - t.used - t.outside_limits;
  if (t.used == 0) {
    throw Error(t.outside_limits > 0 ? "no pixel lies inside the range of the bins and the limits"
                                     : "no pixel lies inside the range of the bins");
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < m; ++i) {
    const double count = static_cast<double>(p.count[i]);
    if (options.error_model == ErrorModel::poisson) {
      p.sigma[i] = std::sqrt(variance_sums[i]) / count;
    }
    if (options.error_model == ErrorModel::azimuthal) p.sigma[i] = std::sqrt(p.variance[i] / count);
    if (p.count[i] == 0) {
      p.value[i] = p.variance[i] = p.spread[i] = nan;
      if (!p.sigma.empty()) p.sigma[i] = nan;
    }
  }
  for (std::size_t k = 0; k < cake.count.size(); ++k) {
    if (cake.count[k] == 0) cake.value[k] = nan;
  }
  return p;
}

}  // namespace vokip
