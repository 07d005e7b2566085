#!/usr/bin/env bash
# Line and branch coverage of the decoder and the file reader reached by the
# committed corpus (or by the given corpus directories):
#   fuzz/coverage.sh [UNPACK_DIR MAR345_DIR]
# Builds source-coverage harnesses in fuzz/build/coverage, runs each once over
# its inputs and prints llvm-cov's report. Needs clang-14 and llvm-14.
set -euo pipefail
fuzz_dir="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$fuzz_dir")"
out="$fuzz_dir/build/coverage"
mkdir -p "$out"
unpack_dir="${1:-$fuzz_dir/corpus/unpack}"
mar345_dir="${2:-$fuzz_dir/corpus/mar345}"
suffix=""
command -v clang++-14 >/dev/null && suffix="-14"
cxx="${FUZZ_CXX:-clang++$suffix}"
flags=(-std=c++17 -O1 -g -fsanitize=fuzzer -fprofile-instr-generate -fcoverage-mapping
       -I"$root" -I"$root/src" -I"$fuzz_dir")

"$cxx" "${flags[@]}" "$fuzz_dir/fuzz_unpack.cpp" "$root/src/decode/unpack_image.cpp" \
  -o "$out/fuzz_unpack"
"$cxx" "${flags[@]}" "$fuzz_dir/fuzz_mar345.cpp" "$root/engine/formats/mar345.cpp" \
  "$root/engine/base/text.cpp" "$root/src/decode/unpack_image.cpp" -o "$out/fuzz_mar345"

run() {  # harness, input directory, source files to report
  local harness="$1" dir="$2"
  shift 2
  local files=()
  while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$dir" -type f -print0)
  LLVM_PROFILE_FILE="$out/$harness.profraw" "$out/$harness" "${files[@]}" >/dev/null 2>&1 || true
  "llvm-profdata$suffix" merge -sparse "$out/$harness.profraw" -o "$out/$harness.profdata"
  echo "== $harness over ${#files[@]} inputs of $dir"
  "llvm-cov$suffix" report "$out/$harness" -instr-profile="$out/$harness.profdata" "$@"
}
run fuzz_unpack "$unpack_dir" "$root/src/decode/unpack_image.cpp" "$root/src/decode/bit_reader.h"
run fuzz_mar345 "$mar345_dir" "$root/engine/formats/mar345.cpp" \
  "$root/src/decode/unpack_image.cpp"
