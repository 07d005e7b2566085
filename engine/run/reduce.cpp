#include "engine/run/reduce.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <thread>

#include "engine/error.h"
#include "integrate/integrate_mean.h"
#include "integrate/integrate_median.h"

namespace vokip {

namespace {

// Members gathered and integrated at a time: their keys and values stay in
// the processor's cache between the two. A chunk also spans enough bins for
// the mean's core to work on many bins side by side.
constexpr std::int64_t kChunkMembers = 1 << 15;
constexpr std::int64_t kChunkBins = 64;

std::int64_t nonzero_count(const Image& image, const PixelList& list) {
  std::int64_t n = 0;
  for (std::int64_t k = 0; k < list.size; ++k) n += image.value(list.pixels[k]) != 0;
  return n;
}

// Bins a to b - 1 as one call of the integration core, on their members'
// corrected values, 0s (and values outside the limits) left out. The plan
// knows each bin's members, so each member's key is given as its bin's
// centre, which lies inside the bin: the core reads keys only to find the
// bins' members. Each bin's result depends only on its members, so the call
// is given the centres around the chunk: from the centre before a (with no
// members: its bin comes out empty and is dropped) to the centre after
// b - 1, from which the core's edges are those of one call over every bin.
// The results equal those of that one call.
class ChunkIntegrator {
 public:
  ChunkIntegrator(const Plan& plan, const Image& image, const Binning& binning,
                  const RunOptions& options, Profile* out)
      : pixels_(plan.members().pixels),
        factors_(plan.inverse_factors()),
        darks_(plan.darks()),
        image_(image),
        binning_(binning),
        options_(options),
        out_(out) {}

  void run(std::int64_t a, std::int64_t b, Workspace* w) const {
    const std::vector<std::int64_t>& starts = binning_.starts;
    const std::int64_t most = starts[b] - starts[a];
    if (static_cast<std::int64_t>(w->keys.size()) < most) {
      w->keys.resize(static_cast<std::size_t>(most));
      w->values.resize(static_cast<std::size_t>(most));
    }
    const bool limits = options_.low || options_.high;
    const double low = options_.low.value_or(0), high = options_.high.value_or(0);
    const bool poisson = options_.error_model == ErrorModel::poisson;
    std::int64_t n = 0, outside_limits = 0;
    const double* bin_centres = binning_.layout.centres.data();
    for (std::int64_t bin = a; bin < b; ++bin) {
      const std::int64_t before = n;
      const double key = bin_centres[bin];
      double variance_sum = 0;
      for (std::int64_t i = starts[bin]; i < starts[bin + 1]; ++i) {
        const std::uint32_t raw = image_.value(pixels_[i]);
        if (raw == 0) continue;
        if (limits && ((options_.low && raw < low) || (options_.high && raw > high))) {
          ++outside_limits;
          continue;
        }
        const double dark = darks_ ? darks_[i] : 0.0;
        const double inverse_factor = factors_ ? factors_[i] : 1.0;
        w->keys[n] = key;
        w->values[n] = (raw - dark) * inverse_factor;
        if (poisson) variance_sum += (raw + dark) * inverse_factor * inverse_factor;
        ++n;
      }
      out_->count[bin] = n - before;
      if (poisson) out_->sigma[bin] = variance_sum;  // turned into sigma once counted
    }
    outside_limits_ += outside_limits;

    const std::int64_t m = static_cast<std::int64_t>(binning_.layout.centres.size());
    const std::int64_t first_centre = a == 0 ? 0 : a - 1;
    const std::int64_t centres = std::min(b + 1, m) - first_centre;
    const std::int64_t bins = b - first_centre;
    w->first.assign(static_cast<std::size_t>(bins), 0.0);
    w->second.assign(static_cast<std::size_t>(bins), 0.0);
    w->third.assign(static_cast<std::size_t>(bins), 0.0);
    const double* c = binning_.layout.centres.data() + first_centre;
    if (options_.statistic == Statistic::median) {
      if (!integrate_median(w->keys.data(), n, w->values.data(), c, centres, w->first.data(),
                            w->second.data(), w->third.data(), bins)) {
        throw Error("out of memory for the medians");
      }
    } else {
      integrate_mean(w->keys.data(), n, w->values.data(), c, centres, w->first.data(),
                     w->second.data(), w->third.data(), bins);
    }
    const std::int64_t skip = a - first_centre;
    std::copy(w->first.begin() + skip, w->first.end(), out_->value.begin() + a);
    std::copy(w->second.begin() + skip, w->second.end(), out_->variance.begin() + a);
    std::copy(w->third.begin() + skip, w->third.end(), out_->spread.begin() + a);
  }

  // Pixels left out by the limits, summed over the chunks this integrator ran.
  std::int64_t outside_limits() const { return outside_limits_; }

 private:
  const std::uint32_t* pixels_;
  const double* factors_;
  const float* darks_;
  const Image& image_;
  const Binning& binning_;
  const RunOptions& options_;
  Profile* out_;
  mutable std::int64_t outside_limits_ = 0;
};

// Consecutive bins grouped into chunks of about kChunkMembers members:
// chunk k holds bins bounds[k] to bounds[k + 1] - 1.
std::vector<std::int64_t> chunk_bounds(const std::vector<std::int64_t>& starts) {
  const std::int64_t m = static_cast<std::int64_t>(starts.size()) - 1;
  std::vector<std::int64_t> bounds = {0};
  for (std::int64_t bin = 1; bin < m; ++bin) {
    if (starts[bin] - starts[bounds.back()] >= kChunkMembers && bin - bounds.back() >= kChunkBins) {
      bounds.push_back(bin);
    }
  }
  bounds.push_back(m);
  return bounds;
}

}  // namespace

Profile reduce_image(const Plan& plan, const Image& image, const RunOptions& options,
                     std::vector<Workspace>* workspaces) {
  const PlanSpec& spec = plan.spec();
  if (image.width() != spec.width || image.height() != spec.height) {
    throw Error("the image is " + std::to_string(image.width()) + " x " +
                std::to_string(image.height()) + " pixels, the plan's " +
                std::to_string(spec.width) + " x " + std::to_string(spec.height));
  }
  Profile p;
  p.unit = spec.unit;
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

  // The chunks are shared out as runs of about equal members.
  const std::vector<std::int64_t> bounds = chunk_bounds(binning->starts);
  const std::int64_t chunks = static_cast<std::int64_t>(bounds.size()) - 1;
  const std::size_t threads =
      std::max<std::size_t>(1, std::min(workspaces->size(), static_cast<std::size_t>(chunks)));
  // One integrator per share: each counts the pixels its chunks leave out.
  std::vector<ChunkIntegrator> integrators;
  integrators.reserve(threads);
  for (std::size_t s = 0; s < threads; ++s)
    integrators.emplace_back(plan, image, *binning, options, &p);
  const std::int64_t total = binning->starts.back() - binning->starts.front();
  auto run_share = [&](std::size_t share) {
    // Share s takes the chunks whose first member lies in its part of the members.
    auto owner = [&](std::int64_t chunk) {
      const std::int64_t before = binning->starts[bounds[chunk]] - binning->starts.front();
      return total == 0
                 ? 0
                 : static_cast<std::size_t>(before * static_cast<std::int64_t>(threads) / total);
    };
    for (std::int64_t k = 0; k < chunks; ++k) {
      if (owner(k) == share) {
        integrators[share].run(bounds[k], bounds[k + 1], &(*workspaces)[share]);
      }
    }
  };
  std::vector<std::thread> helpers;
  std::vector<std::exception_ptr> failures(threads);
  for (std::size_t s = 1; s < threads; ++s) {
    helpers.emplace_back([&, s] {
      try {
        run_share(s);
      } catch (...) {
        failures[s] = std::current_exception();
      }
    });
  }
  try {
    run_share(0);
  } catch (...) {
    failures[0] = std::current_exception();
  }
  for (std::thread& h : helpers) h.join();
  for (const std::exception_ptr& f : failures) {
    if (f) std::rethrow_exception(f);
  }

  for (std::int64_t c : p.count) t.used += c;
  for (const ChunkIntegrator& integrator : integrators)
    t.outside_limits += integrator.outside_limits();
  t.off_range = kept - t.used - t.outside_limits;
  if (t.used == 0) {
    throw Error(t.outside_limits > 0 ? "no pixel lies inside the range of the bins and the limits"
                                     : "no pixel lies inside the range of the bins");
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (std::size_t i = 0; i < m; ++i) {
    const double count = static_cast<double>(p.count[i]);
    if (options.error_model == ErrorModel::poisson) p.sigma[i] = std::sqrt(p.sigma[i]) / count;
    if (options.error_model == ErrorModel::azimuthal) p.sigma[i] = std::sqrt(p.variance[i] / count);
    if (p.count[i] == 0) {
      p.value[i] = p.variance[i] = p.spread[i] = nan;
      if (!p.sigma.empty()) p.sigma[i] = nan;
    }
  }
  return p;
}

}  // namespace vokip
