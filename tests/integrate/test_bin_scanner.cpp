#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "integrate/bin_scanner.h"
#include "integrate/reference_integration.h"

namespace {

using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;

// Exact-size vectors: a read past either end is caught by AddressSanitizer.
Ranges scan(const std::vector<double>& keys, const std::vector<double>& centres) {
  bin_scanner scanner(keys.data(), static_cast<std::int64_t>(keys.size()), centres.data(),
                      static_cast<std::int64_t>(centres.size()));
  Ranges ranges;
  for (std::size_t i = 0; i < centres.size(); ++i) {
    const BinRange bin = scanner.next_bin(static_cast<std::int64_t>(i));
    ranges.emplace_back(bin.lo, bin.end);
  }
  return ranges;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(BinScanner, WorkedExamples) {
  // Lower edge 0.5 is not above the first key: bins {0,1}, {2,3}, {4}.
  EXPECT_EQ(scan({0.5, 1.0, 1.5, 2.0, 2.5}, {1, 2, 3}), (Ranges{{0, 2}, {2, 4}, {4, 5}}));
  // 0.1 and 0.2 lie below 0.5: the first bin takes in 0.2, the last of them.
  EXPECT_EQ(scan({0.1, 0.2, 0.6, 1.2}, {1, 2, 3}), (Ranges{{1, 4}, {4, 4}, {4, 4}}));
  // Every key below the lower edge: the first bin holds only the last key.
  EXPECT_EQ(scan({0.1, 0.2, 0.3}, {1, 2}), (Ranges{{2, 3}, {3, 3}}));
}

TEST(BinScanner, EdgesAndEmptyBins) {
  // Keys on an edge open the next bin; the last bin ends at its mirrored
  // edge 3.5, so 3.5 and 4 belong to no bin.
  EXPECT_EQ(scan({0.5, 1.5, 2.5, 3.0, 3.49, 3.5, 4.0}, {1, 2, 3}),
            (Ranges{{0, 1}, {1, 2}, {2, 5}}));
  // Centres 2 and 2.1 have no key between their edges 1.5, 2.05 and 2.55.
  EXPECT_EQ(scan({1.0, 1.2, 2.6, 2.9}, {1, 2, 2.1, 3}), (Ranges{{0, 2}, {2, 2}, {2, 2}, {2, 4}}));
  // Uneven spacing: edges 0.5 and 2, and the last bin mirrors its own
  // half-spacing up to 4.
  EXPECT_EQ(scan({0.0, 0.4, 1.1, 2.5, 3.9, 4.0}, {0, 1, 3}), (Ranges{{0, 2}, {2, 3}, {3, 5}}));
}

TEST(BinScanner, UnsortedAndNaNKeysEndScans) {
  // 1.7 ends bin 0 (edge 1.5) although 1.2 follows it: 1.2 goes to bin 1.
  EXPECT_EQ(scan({0.6, 1.7, 1.2, 2.2, 2.7}, {1, 2, 3}), (Ranges{{0, 1}, {1, 4}, {4, 5}}));
  // A NaN key ends the bin it is met in, and every later bin is empty.
  EXPECT_EQ(scan({0.6, 0.9, kNaN, 1.9, 2.9}, {1, 2, 3}), (Ranges{{0, 2}, {2, 2}, {2, 2}}));
  // A NaN first key: the first-bin rule does not advance and nothing is taken.
  EXPECT_EQ(scan({kNaN, 1.0, 2.0}, {1, 2}), (Ranges{{0, 0}, {0, 0}}));
}

TEST(BinScanner, SingleCentreAndEmptyInputs) {
  // One centre takes every key from the first up to the first NaN.
  EXPECT_EQ(scan({-100.0, 5.0, 1e300, std::numeric_limits<double>::infinity()}, {1}),
            (Ranges{{0, 4}}));
  EXPECT_EQ(scan({1.0, 2.0, kNaN, 3.0}, {7}), (Ranges{{0, 2}}));
  EXPECT_EQ(scan({}, {1}), (Ranges{{0, 0}}));
  EXPECT_EQ(scan({}, {1, 2, 3}), (Ranges{{0, 0}, {0, 0}, {0, 0}}));
  EXPECT_EQ(scan({1.0, 2.0}, {}), Ranges{});
}

TEST(BinScanner, AgreesWithPerBinEdgesOnRandomProfiles) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const reference::Profile p = reference::random_profile(seed, 5000, 300);
    const Ranges ranges = scan(p.keys, p.centres);
    std::size_t empty = 0;
    for (std::size_t i = 0; i < p.centres.size(); ++i) {
      std::vector<std::int64_t> found;
      for (std::int64_t j = ranges[i].first; j < ranges[i].second; ++j) found.push_back(j);
      ASSERT_EQ(found, reference::members(p.keys, p.centres, i)) << "seed " << seed << " bin " << i;
      empty += found.empty();
    }
    EXPECT_GT(empty, 0u) << "profile should have empty bins";
  }
}

}  // namespace
