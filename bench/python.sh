#!/usr/bin/env bash
# The Python package against fabio and pyFAI (Debian's python3-fabio and
# python3-pyfai) on a 3450 x 3450 ring image: makes the image and a .poni of
# its geometry (version 2, which Debian 12's pyFAI reads), then runs
# bench/python_bench.py on them.
#   bench/python.sh [ROUNDS]     (default 9)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-9}
work=${BENCH_DIR:-/tmp/vokip-python-bench}
mkdir -p "$work"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target vokip_python vokip-reduce vokip-make-sample >/dev/null
image=$work/rings.mar3450
[ -f "$image" ] ||
  build/tools/vokip-make-sample "$image" --size 3450 --tilt 0.5 --tilt-direction 40 --seed 1 >/dev/null
build/cli/vokip-reduce "$image" -q -o "$work" --write-poni "$work/plate.poni" --poni-version 2 \
  --tilt 0.5 --tilt-direction 40
PYTHONPATH=build/python /usr/bin/python3 -W ignore bench/python_bench.py "$image" "$work/plate.poni" "$rounds"
