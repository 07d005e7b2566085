#include "engine/memory/huge_pages.h"

#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vokip {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

void* allocate_large(std::size_t bytes) {
#if defined(__linux__)
  if (bytes >= kHugePageThreshold) {
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* memory = std::aligned_alloc(kHugePage, rounded);
    if (!memory) throw std::bad_alloc();
    ::madvise(memory, rounded, MADV_HUGEPAGE);
    return memory;
  }
#endif
  void* memory = std::malloc(bytes == 0 ? 1 : bytes);
  if (!memory) throw std::bad_alloc();
  return memory;
}

void release_large(void* memory, std::size_t) {
  std::free(memory);
}

}  // namespace vokip
