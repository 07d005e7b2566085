// Splitting a pass between cores: the parts cover every item once, in order,
// and every part runs once even when another throws.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "reduce/parallel_parts.h"

namespace {

TEST(PartRange, CoversEveryItemOnceInOrder) {
  for (std::size_t n : {0, 1, 2, 3, 7, 1000, 1001, 11902500}) {
    for (unsigned parts : {1u, 2u, 3u, 8u}) {
      std::size_t next = 0, smallest = n, largest = 0;
      for (unsigned p = 0; p < parts; ++p) {
        const PartRange r = part_range(n, p, parts);
        ASSERT_EQ(r.begin, next) << n << " items, part " << p << " of " << parts;
        ASSERT_LE(r.begin, r.end);
        smallest = std::min(smallest, r.end - r.begin);
        largest = std::max(largest, r.end - r.begin);
        next = r.end;
      }
      EXPECT_EQ(next, n) << n << " items in " << parts;
      EXPECT_LE(largest - smallest, 1u) << n << " items in " << parts;
    }
  }
}

TEST(PartsFor, SplitsOnlyLargePasses) {
  EXPECT_EQ(parts_for(0), 1u);
  EXPECT_EQ(parts_for(kPartedItems - 1), 1u);
  EXPECT_GE(parts_for(kPartedItems), 1u);
  EXPECT_LE(parts_for(kPartedItems), 2u);
}

TEST(RunParts, RunsEachPartOnce) {
  for (unsigned parts : {1u, 2u, 5u}) {
    std::vector<std::atomic<int>> runs(parts);
    run_parts(parts, [&](unsigned p) { ++runs[p]; });
    for (unsigned p = 0; p < parts; ++p) EXPECT_EQ(runs[p].load(), 1) << p << " of " << parts;
  }
}

TEST(RunParts, RethrowsAfterEveryPartHasEnded) {
  for (unsigned thrower : {0u, 1u, 2u}) {
    std::vector<std::atomic<int>> runs(3);
    EXPECT_THROW(run_parts(3,
                           [&](unsigned p) {
                             ++runs[p];
                             if (p == thrower) throw std::runtime_error("part failed");
                           }),
                 std::runtime_error);
    for (unsigned p = 0; p < 3; ++p) EXPECT_EQ(runs[p].load(), 1) << "thrower " << thrower;
  }
}

}  // namespace
