#!/usr/bin/env bash
# Builds the fuzz harnesses and the seed generator with clang:
#   fuzz/build.sh [BUILD_DIR]          (default fuzz/build)
# FUZZ_CXX names the compiler (default clang++-14, else clang++).
# Needs clang and the sanitizer/libFuzzer runtimes (Debian: clang-14, libclang-rt-14-dev).
set -euo pipefail
fuzz_dir="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$fuzz_dir")"
out="${1:-$fuzz_dir/build}"
mkdir -p "$out"

cxx="${FUZZ_CXX:-}"
if [ -z "$cxx" ]; then
  if command -v clang++-14 >/dev/null; then cxx=clang++-14; else cxx=clang++; fi
fi

common=(-std=c++17 -O1 -g -Wall -Wextra -fno-omit-frame-pointer
        -I"$root" -I"$root/src" -I"$root/tests" -I"$fuzz_dir")
sanitize=(-fsanitize=address,undefined -fno-sanitize-recover=all)

"$cxx" "${common[@]}" "${sanitize[@]}" -fsanitize=fuzzer \
  "$fuzz_dir/fuzz_unpack.cpp" "$root/src/decode/unpack_image.cpp" \
  -o "$out/fuzz_unpack"

"$cxx" "${common[@]}" "${sanitize[@]}" -fsanitize=fuzzer \
  "$fuzz_dir/fuzz_mar345.cpp" "$root/engine/formats/mar345.cpp" "$root/engine/base/text.cpp" \
  "$root/src/decode/unpack_image.cpp" \
  -o "$out/fuzz_mar345"

"$cxx" "${common[@]}" "${sanitize[@]}" \
  "$fuzz_dir/make_seeds.cpp" "$root/tests/support/packer.cpp" \
  "$root/tests/support/mar345_writer.cpp" "$root/engine/formats/mar345.cpp" \
  "$root/engine/base/text.cpp" \
  "$root/src/decode/unpack_image.cpp" \
  -o "$out/make_seeds"

echo "built fuzz_unpack, fuzz_mar345 and make_seeds in $out"
