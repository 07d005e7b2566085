#!/usr/bin/env bash
# Times the geometry maps (bench_geometry) of several builds side by side:
# the builds take turns, round after round, so they see the same machine
# load, and each round's figures are divided by the first build's.
# Usage: geometry_platforms.sh ROUNDS "LABEL=COMMAND" ...
# (COMMAND runs a bench_geometry program, e.g. "wine64 bench_geometry.exe").
set -euo pipefail
rounds=$1
shift
results=$(mktemp)
trap 'rm -f "$results"' EXIT

for round in $(seq "$rounds"); do
  build=0
  for entry in "$@"; do
    label=${entry%%=*} command=${entry#*=}
    # CSV rows of the medians: "BM_Name_median",...; ns_per_pixel is the last column.
    $command --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
      --benchmark_format=csv 2>/dev/null |
      awk -F, -v OFS='\t' -v round="$round" -v build="$build" -v label="$label" '
        /_median"/ { name = $1; gsub(/"|_median/, "", name); print round, build, label, name, $NF * 1e9 }' \
        >>"$results"
    build=$((build + 1))
  done
done

# Per benchmark and build: ns per pixel and the ratio to the first build,
# each the median over the rounds.
awk -F'\t' '
  { label[$2] = $3; ns[$4, $2, $1] = $5; builds = $2 > builds ? $2 : builds
    rounds = $1 > rounds ? $1 : rounds
    if (!($4 in seen)) { seen[$4] = 1; order[++names] = $4 } }
  function median(a, n,   i, j, t) {
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  END {
    printf "%-26s", "benchmark"
    for (b = 0; b <= builds; b++) printf " | %-30s", label[b]
    printf "\n"
    for (k = 1; k <= names; k++) {
      name = order[k]
      printf "%-26s", name
      for (b = 0; b <= builds; b++) {
        for (r = 1; r <= rounds; r++) { t[r] = ns[name, b, r]; q[r] = t[r] / ns[name, 0, r] }
        printf " | %6.2f ns/pixel, ratio %5.2f   ", median(t, rounds), median(q, rounds)
      }
      printf "\n"
    }
  }' "$results"
