// One image reduced with a plan: the values of the plan's pixels gathered in
// its order, pixels of value 0 (no data) left out, and binned by the
// module's integration cores.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/formats/image.h"
#include "engine/memory/huge_pages.h"
#include "engine/plan/plan.h"
#include "engine/profile/profile.h"

namespace vokip {

// What a reduction of one image asks for beyond its plan.
struct RunOptions {
  Statistic statistic = Statistic::mean;
  ErrorModel error_model = ErrorModel::none;
  // Pixels whose raw value lies below low or above high are left out.
  std::optional<double> low, high;
};

// Buffers of one thread's share of a reduction, kept from image to image:
// the keys and values handed to the integration cores, and the three
// statistics they give per bin.
struct Workspace {
  std::vector<double, HugePageAllocator<double>> keys, values;
  std::vector<double> value, variance, spread;
};

// Reduces the image; the work is shared by as many threads as there are
// workspaces (at least one). Throws Error when the image does not fit the
// plan or leaves no pixel to bin.
Profile reduce_image(const Plan& plan, const Image& image, const RunOptions& options,
                     std::vector<Workspace>* workspaces);

}  // namespace vokip
