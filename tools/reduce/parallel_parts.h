// Splitting a pass over many items between the machine's cores.
#pragma once

#include <cstddef>
#include <functional>

// Parts worth running side by side for a pass over n items: 2 from
// kPartedItems items on when there are two or more cores, else 1. Results
// never depend on it.
unsigned parts_for(std::size_t n);
constexpr std::size_t kPartedItems = std::size_t{1} << 20;

// Item range [begin, end) of part p of parts over n items.
struct PartRange {
  std::size_t begin, end;
};
PartRange part_range(std::size_t n, unsigned p, unsigned parts);

// Runs work(0) ... work(parts - 1): part 0 on this thread, every other on a
// thread of its own, or here after part 0 when no thread can be had. Returns
// when all have ended, rethrowing the first part's exception if any threw.
void run_parts(unsigned parts, const std::function<void(unsigned)>& work);
