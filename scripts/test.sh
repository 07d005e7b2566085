#!/usr/bin/env bash
# Builds vokip and runs every test twice: a Release build, then a build under
# AddressSanitizer and UndefinedBehaviorSanitizer that fails on any report;
# the Debian package and the wheel, installed and removed; then the module
# for 64-bit Windows with its tests under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
jobs=$(nproc)

# Tests and benchmarks on, whatever an earlier scripts/demo.sh left configured.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOKIP_TESTS=ON -DVOKIP_BENCHMARKS=ON >/dev/null
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

# The .deb and the wheel as they are installed (as root: apt-get installs
# the package and removes it again).
if [ "$(id -u)" -eq 0 ]; then
  bash tests/package/package_test.sh
else
  echo "the package test needs root: skipped"
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOKIP_SANITIZE=ON -DVOKIP_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure -j"$jobs")

# The fuzz harnesses (clang, libFuzzer) over their seeds and every input that
# once broke something.
FUZZ_CXX=clang++-14 fuzz/run_regressions.sh build-fuzz

# The module as a Windows DLL, tested under wine against the Release build.
bash scripts/windows.sh
