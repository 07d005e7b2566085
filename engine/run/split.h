// Images reduced with split pixels: each pixel spread over the bins (and
// the cake's cells) its footprint covers, by the plan's footprints.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/formats/image.h"
#include "engine/plan/plan.h"
#include "engine/profile/profile.h"
#include "engine/run/reduce.h"

namespace vokip {

struct SplitTally {
  std::int64_t used = 0;            // pixels with a share in some bin
  std::int64_t outside_limits = 0;  // pixels the limits left out
};

// Fills the profile's bins (and its cake's cells), laid out by the binning,
// on as many threads as there are workspaces.
SplitTally reduce_split(const Plan& plan, const Image& image, const RunOptions& options,
                        const Binning& binning, Profile* profile,
                        std::vector<Workspace>* workspaces);

}  // namespace vokip
