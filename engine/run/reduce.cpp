#include "engine/run/reduce.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "engine/base/error.h"
#include "engine/base/parallel.h"
#include "engine/run/bin_sums.h"
#include "engine/run/split.h"
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
  const double* norms;          // each position's normalisation; null: none
  const float* darks;           // each position's dark value; null: none
  // bins + 1 positions: bin b's members at starts[b] .. starts[b + 1] - 1
  const std::int64_t* starts;
  const double* centres;  // the bins' centres
  std::int64_t bins;
  // Per bin: what the statistic gives, and the pixels counted.
  double* value;
  double* variance;  // null: not kept (with spread and standard_error)
  double* spread;
  double* standard_error;
  double* counting_error;  // for the counting error model; null: not kept
  double* count;
  bool tally;  // counts the pixels the limits leave out
};

// Bins a to b - 1 of a row as one call of the integration core, on their
// members' values, 0s (and values outside the limits) left out; or, for the
// mean of corrected values, sums over the members, without the core (the
// sum of signals over the sum of normalisations is not the core's mean).
// The plan knows each bin's members, so each member's key is given as its
// bin's centre, which lies inside the bin: the core reads keys only to find
// the bins' members. Each bin's result depends only on its members, so the
// call is given the centres around the chunk: from the centre before a
// (with no members: its bin comes out empty and is dropped) to the centre
// after b - 1, from which the core's edges are those of one call over every
// bin. The results equal those of that one call.
class ChunkIntegrator {
 public:
  ChunkIntegrator(const Plan& plan, const Image& image, const RunOptions& options)
      : image_(image), last_position_(plan.members().size - 1), options_(options) {}

  // Returns the pixels the limits left out.
  std::int64_t run(const Row& row, std::int64_t a, std::int64_t b, Workspace* w) const {
    const std::int64_t most = row.starts[b] - row.starts[a];
    if (static_cast<std::int64_t>(w->keys.size()) < most) {
      w->keys.resize(static_cast<std::size_t>(most));
      w->values.resize(static_cast<std::size_t>(most));
    }
    const bool corrected = row.norms || row.darks;
    const bool limited = options_.low || options_.high;
    std::int64_t outside = 0;
    if (corrected && options_.statistic == Statistic::mean) {
      limited ? sum<true>(row, a, b, &outside) : sum<false>(row, a, b, &outside);
      return row.tally ? outside : 0;
    }
    std::int64_t n = 0;
    if (corrected) {
      n = limited ? gather<true, true>(row, a, b, w, &outside)
                  : gather<true, false>(row, a, b, w, &outside);
    } else {
      n = limited ? gather<false, true>(row, a, b, w, &outside)
                  : gather<false, false>(row, a, b, w, &outside);
    }

    const std::int64_t first_centre = a == 0 ? 0 : a - 1;
    const std::int64_t centres = std::min(b + 1, row.bins) - first_centre;
    const std::int64_t bins = b - first_centre;
    w->value.assign(static_cast<std::size_t>(bins), 0.0);
    w->variance.assign(static_cast<std::size_t>(bins), 0.0);
    w->spread.assign(static_cast<std::size_t>(bins), 0.0);
    const double* c = row.centres + first_centre;
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
    if (row.variance) {
      std::copy(w->variance.begin() + skip, w->variance.end(), row.variance + a);
      std::copy(w->spread.begin() + skip, w->spread.end(), row.spread + a);
      // Every member weighs the same: the error of the mean of count values.
      for (std::int64_t i = a; i < b; ++i) {
        row.standard_error[i] = std::sqrt(row.variance[i] / row.count[i]);
      }
    }
    return row.tally ? outside : 0;
  }

 private:
  // A member's raw value, or 0 when it is no data or outside the limits.
  template <bool kLimited>
  double raw_of(const Row& row, std::int64_t position, std::int64_t* outside) const {
    image_.prefetch(row.pixels[std::min(position + kPrefetchAhead, last_position_)]);
    const double raw = image_.value(row.pixels[position]);
    if (kLimited && raw != 0 &&
        (raw < options_.low.value_or(-INFINITY) || raw > options_.high.value_or(INFINITY))) {
      ++*outside;
      return 0;
    }
    return raw;
  }

  // The values of bins a to b - 1 into the workspace, each with its bin's
  // centre as its key; returns how many. One loop per kind of correction,
  // so that the loop the data need has no tests of the others. Kept out of
  // run(): inlined there, the four loops were about 10 % slower
  // (bench_reduce).
  template <bool kCorrected, bool kLimited>
  __attribute__((noinline)) std::int64_t gather(const Row& row, std::int64_t a, std::int64_t b,
                                                Workspace* w, std::int64_t* outside) const {
    double* keys = w->keys.data();
    double* values = w->values.data();
    std::int64_t n = 0;
    for (std::int64_t bin = a; bin < b; ++bin) {
      const std::int64_t before = n;
      const double key = row.centres[bin];
      double norms = 0, counts = 0;
      const std::int64_t end = row.starts[bin + 1];
      for (std::int64_t position = row.starts[bin]; position < end; ++position) {
        const double raw = raw_of<kLimited>(row, position, outside);
        if (raw == 0) continue;
        keys[n] = key;
        if (kCorrected) {
          const double dark = row.darks ? row.darks[position] : 0.0;
          const double norm = row.norms ? row.norms[position] : 1.0;
          values[n] = (raw - dark) / norm;
          norms += norm;
          counts += raw + dark;
        } else {
          values[n] = raw;
          counts += raw;
        }
        ++n;
      }
      row.count[bin] = static_cast<double>(n - before);
      if (!kCorrected) norms = row.count[bin];
      if (row.counting_error) row.counting_error[bin] = std::sqrt(counts) / norms;
    }
    return n;
  }

  // Bins a to b - 1 of corrected values as sums over their members.
  template <bool kLimited>
  __attribute__((noinline)) void sum(const Row& row, std::int64_t a, std::int64_t b,
                                     std::int64_t* outside) const {
    for (std::int64_t bin = a; bin < b; ++bin) {
      BinSum sum;
      const std::int64_t end = row.starts[bin + 1];
      for (std::int64_t position = row.starts[bin]; position < end; ++position) {
        const double raw = raw_of<kLimited>(row, position, outside);
        if (raw == 0) continue;
        const double dark = row.darks ? row.darks[position] : 0.0;
        const double norm = row.norms ? row.norms[position] : 1.0;
        sum.add(1.0, raw - dark, norm, (raw - dark) / norm, raw + dark);
      }
      row.count[bin] = sum.share();
      row.value[bin] = sum.mean();
      if (row.variance) {
        row.variance[bin] = sum.variance();
        row.spread[bin] = sum.dispersion();
        row.standard_error[bin] = sum.standard_error(row.variance[bin]);
      }
      if (row.counting_error) row.counting_error[bin] = sum.counting_error();
    }
  }

  const Image& image_;
  std::int64_t last_position_;  // the same in both orders
  const RunOptions& options_;
};

// A row's consecutive bins grouped into chunks of about kChunkMembers
// members.
struct Chunk {
  const Row* row;
  std::int64_t a, b;  // bins a .. b - 1
};

void add_chunks(const Row& row, std::vector<Chunk>* chunks) {
  std::int64_t a = 0;
  for (std::int64_t bin = 1; bin <= row.bins; ++bin) {
    const std::int64_t members = row.starts[bin] - row.starts[a];
    if (bin == row.bins || (members >= kChunkMembers && bin - a >= kChunkBins)) {
      chunks->push_back({&row, a, bin});
      a = bin;
    }
  }
}

// The profile (and its cake) of the members, each in the bins of its centre.
// Chunks of cake rows, whose members are spread over the image, cost more
// per member than the profile's, so threads take chunks as they come. Each
// chunk's results are its own, so they do not depend on which thread ran
// it. Returns the pixels the limits left out.
std::int64_t reduce_centres(const Plan& plan, const Image& image, const RunOptions& options,
                            const Binning& binning, Profile* p,
                            std::vector<Workspace>* workspaces) {
  const ChunkIntegrator integrator(plan, image, options);
  const std::size_t m = p->centre.size();
  const Row profile_row{plan.members().pixels,
                        plan.norms(),
                        plan.darks(),
                        binning.starts.data(),
                        p->centre.data(),
                        static_cast<std::int64_t>(m),
                        p->value.data(),
                        p->variance.data(),
                        p->spread.data(),
                        p->standard_error.data(),
                        options.error_model == ErrorModel::poisson ? p->sigma.data() : nullptr,
                        p->count.data(),
                        true};
  std::vector<Chunk> chunks;
  add_chunks(profile_row, &chunks);

  // The cake's rows: one per azimuth bin, its members in the cake's order.
  Cake& cake = p->cake;
  const std::size_t cm = cake.centre.size();
  std::vector<Row> cake_rows;
  cake_rows.reserve(static_cast<std::size_t>(cake.azimuth.count));
  for (std::size_t j = 0; j < static_cast<std::size_t>(cake.azimuth.count); ++j) {
    cake_rows.push_back({plan.cake_pixels(), plan.cake_norms(), plan.cake_darks(),
                         binning.cake_starts.data() + j * (cm + 1), cake.centre.data(),
                         static_cast<std::int64_t>(cm), cake.value.data() + j * cm, nullptr,
                         nullptr, nullptr, nullptr, cake.count.data() + j * cm, false});
    add_chunks(cake_rows.back(), &chunks);
  }
  std::vector<std::int64_t> outside(workspaces->size(), 0);
  share_tasks(chunks.size(), workspaces->size(), [&](std::size_t k, std::size_t thread) {
    const Chunk& c = chunks[k];
    outside[thread] += integrator.run(*c.row, c.a, c.b, &(*workspaces)[thread]);
  });
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
  p.split = parameters.split;
  PixelTally& t = p.pixels;
  t.total = image.pixels();
  t.zero = image.zero_count();
  t.masked = nonzero_count(image, plan.masked());
  t.off_sector = nonzero_count(image, plan.off_sector());
  const std::int64_t kept = t.total - t.zero - t.masked - t.off_sector;
  if (kept == 0) throw Error("no pixel left: every one is zero, masked or outside the sector");

  // The extent of the image's data (the pixels' centres) on the unit's axis.
  const PixelList members = plan.members();
  std::int64_t first = 0, last = members.size - 1;
  while (first < members.size && image.value(members.pixels[first]) == 0) ++first;
  if (first == members.size) throw Error("no pixel has an angle (the geometry gives none)");
  while (image.value(members.pixels[last]) == 0) --last;
  const std::shared_ptr<const Binning> binning =
      plan.binning(plan.member_key(first), plan.member_key(last), workspaces->size());

  const std::size_t m = binning->layout.centres.size();
  p.centre = binning->layout.centres;
  p.bin_width = binning->layout.width;
  for (std::vector<double>* v : {&p.count, &p.value, &p.variance, &p.spread, &p.standard_error}) {
    v->assign(m, 0.0);
  }
  if (options.error_model != ErrorModel::none) p.sigma.assign(m, 0.0);
  Cake& cake = p.cake;
  if (plan.azimuth_bins().count > 0) {
    cake.azimuth = plan.azimuth_bins();
    cake.centre = binning->cake_layout.centres;
    cake.bin_width = binning->cake_layout.width;
    const std::size_t cells = static_cast<std::size_t>(cake.azimuth.count) * cake.centre.size();
    cake.value.assign(cells, 0.0);
    cake.count.assign(cells, 0.0);
  }

  std::int64_t used = 0;
  if (parameters.split == Split::none) {
    t.outside_limits = reduce_centres(plan, image, options, *binning, &p, workspaces);
    for (double c : p.count) used += static_cast<std::int64_t>(c);
  } else {
    const SplitTally split = reduce_split(plan, image, options, *binning, &p, workspaces);
    t.outside_limits = split.outside_limits;
    used = split.used;
  }
  t.used = used;
  t.off_range = kept - t.used - t.outside_limits;
  if (t.used == 0) {
    throw Error(t.outside_limits > 0 ? "no pixel lies inside the range of the bins and the limits"
                                     : "no pixel lies inside the range of the bins");
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < m; ++i) {
    if (options.error_model == ErrorModel::azimuthal) p.sigma[i] = p.standard_error[i];
    if (p.count[i] == 0) {
      p.value[i] = p.variance[i] = p.spread[i] = p.standard_error[i] = nan;
      if (!p.sigma.empty()) p.sigma[i] = nan;
    }
  }
  for (std::size_t k = 0; k < cake.count.size(); ++k) {
    if (cake.count[k] == 0) cake.value[k] = nan;
  }
  return p;
}

}  // namespace vokip
