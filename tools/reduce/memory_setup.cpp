#include "reduce/memory_setup.h"

#include <malloc.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

void restart_with_huge_pages(char** argv) {
  constexpr char kTunable[] = "glibc.malloc.hugetlb=";
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  const std::string current = tunables ? tunables : "";
  if (std::getenv("VOKIP_NO_HUGE_PAGES") || current.find(kTunable) != std::string::npos) return;
  const std::string wanted = current + (current.empty() ? "" : ":") + kTunable + "1";
  if (::setenv("GLIBC_TUNABLES", wanted.c_str(), 1) != 0) return;
  ::execv("/proc/self/exe", argv);
  // The exec failed: go on as we are, without the tunable.
  if (tunables) {
    ::setenv("GLIBC_TUNABLES", tunables, 1);
  } else {
    ::unsetenv("GLIBC_TUNABLES");
  }
}

void keep_freed_memory() {
  ::mallopt(M_MMAP_MAX, 0);
  ::mallopt(M_TRIM_THRESHOLD, INT_MAX);
}
