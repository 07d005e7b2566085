// Memory for the engine's large arrays, asked of the system in 2 MiB pages
// where it offers them (Linux's transparent huge pages, on request). The
// arrays a reduction reads at random (the image, gathered in the plan's
// order) and the plan's own arrays span tens of MB: in 4 KiB pages nearly
// every random read misses the address cache, and every first touch of a
// fresh page costs a fault. Elsewhere the allocator is plain memory.
#pragma once

#include <cstddef>
#include <new>

namespace vokip {

// Blocks of at least this size go to huge pages.
constexpr std::size_t kHugePageThreshold = std::size_t{4} << 20;

void* allocate_large(std::size_t bytes);
void release_large(void* memory, std::size_t bytes);

template <class T>
struct HugePageAllocator {
  using value_type = T;
  HugePageAllocator() = default;
  template <class U>
  HugePageAllocator(const HugePageAllocator<U>&) {}
  T* allocate(std::size_t n) { return static_cast<T*>(allocate_large(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) { release_large(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const HugePageAllocator<U>&) const {
    return true;
  }
  template <class U>
  bool operator!=(const HugePageAllocator<U>&) const {
    return false;
  }
};

}  // namespace vokip
