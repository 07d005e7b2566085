// CHECK(condition) in a fuzz harness: a broken invariant prints its line and
// condition and traps, so libFuzzer saves the input that broke it.
#pragma once

#include <cstdio>

#define FUZZ_STRINGIZE_(x) #x
#define FUZZ_STRINGIZE(x) FUZZ_STRINGIZE_(x)
#define CHECK(condition)                                                                       \
  do {                                                                                         \
    if (!(condition)) fuzz_invariant_broken("line " FUZZ_STRINGIZE(__LINE__) ": " #condition); \
  } while (0)

[[noreturn]] inline void fuzz_invariant_broken(const char* what) {
  std::fprintf(stderr, "invariant broken at %s\n", what);
  std::fflush(stderr);
  __builtin_trap();
}
