#!/usr/bin/env bash
# Builds the module and vokip-reduce, then reduces the shipped MAR345 sample
# to a profile (out/rings.xy), a plot (out/rings.svg), a FIT2D-style .chi and
# a CSV of every statistic. Installs only what building and running need
# (no test tools: scripts/test.sh adds those).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOKIP_TESTS=OFF -DVOKIP_BENCHMARKS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target vokip-reduce
build/cli/vokip-reduce samples/rings.mar1200 --svg --chi --csv -o out
