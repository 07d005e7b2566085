#!/usr/bin/env bash
# Builds the fuzz harnesses and runs each once over its committed corpus and
# regression inputs (no fuzzing). Exits non-zero when any input fails.
#   fuzz/run_regressions.sh [BUILD_DIR]          (default fuzz/build)
set -euo pipefail
fuzz_dir="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$fuzz_dir/build}"
"$fuzz_dir/build.sh" "$out"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

passed=0
failed=0
for harness in unpack mar345; do
  inputs=()
  for dir in "$fuzz_dir/corpus/$harness" "$fuzz_dir/regressions/$harness"; do
    [ -d "$dir" ] || continue
    while IFS= read -r -d '' file; do inputs+=("$file"); done \
      < <(find "$dir" -type f ! -name '*.md' -print0 | sort -z)
  done
  if [ ${#inputs[@]} -eq 0 ]; then
    echo "fuzz_$harness: no inputs found"
    failed=$((failed + 1))
    continue
  fi
  log="$out/regression-$harness.log"
  # One process for all inputs; it stops at the first failure, so on failure
  # every input is run on its own to name each one that fails.
  if "$out/fuzz_$harness" -timeout=60 "${inputs[@]}" >"$log" 2>&1; then
    echo "fuzz_$harness: ${#inputs[@]} inputs passed"
    passed=$((passed + ${#inputs[@]}))
    continue
  fi
  for file in "${inputs[@]}"; do
    if "$out/fuzz_$harness" -timeout=60 "$file" >"$log.one" 2>&1; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
      echo "fuzz_$harness: FAILED on ${file#"$fuzz_dir"/}"
      grep -E 'runtime error|invariant broken|ERROR: |SUMMARY' "$log.one" | head -5 || true
    fi
  done
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
