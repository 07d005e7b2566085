#!/usr/bin/env bash
# What a run file costs: a batch of 3450 x 3450 MAR345 images reduced by
# vokip-reduce with and without --hdf5 (and --waterfall), side by side:
#   profiles   fixed bins (--range 2:40 --bins 3000), the .xy of each image
#   cake       and polarization, Poisson errors and the cake (--cake 360
#              --cake-bins 500: its TIFF, axes and picture per image; in the
#              run file a compressed chunk per image)
# each pair run in turn, REPEATS times, alternating which goes first. The
# overhead is the whole batch's time with the run file over the time without,
# taken round by round (a machine that slows down for a while slows both),
# then the median: its wall time, and its processor time (user + system),
# which other work on shared cores disturbs less. Within the runs with the
# run file, --times gives each image's row's write ("run file ... ms"): their
# sum over the batch's wall time is the share of the batch spent writing the
# run file, which other work on the machine disturbs least. The images are four distinct ones named over and over, so
# that a long run costs no long preparation. Memory: the peak resident set of
# the cake batch with the run file, for IMAGES and for 4 x IMAGES images.
#   bench/run_file.sh [IMAGES] [REPEATS]     (defaults 40 and 5)
set -euo pipefail
cd "$(dirname "$0")/.."
images=${1:-40}
repeats=${2:-5}
work=${BENCH_DIR:-/tmp/vokip-run-file-bench}
mkdir -p "$work"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j2 --target vokip-reduce vokip-make-sample >/dev/null
reduce=$PWD/build/cli/vokip-reduce
make_sample=$PWD/build/tools/vokip-make-sample

for k in 0 1 2 3; do
  [ -f "$work/distinct$k.mar3450" ] ||
    "$make_sample" "$work/distinct$k.mar3450" --size 3450 --tilt 0.5 --tilt-direction 40 --seed $k >/dev/null
done
# batch N: a folder of N names over the distinct images.
batch() {
  local folder=$work/batch$1
  if [ ! -d "$folder" ]; then
    mkdir -p "$folder"
    for ((k = 0; k < $1; k++)); do
      ln -s "../distinct$((k % 4)).mar3450" "$folder/image$(printf %05d $k).mar3450"
    done
  fi
  echo "$folder"
}
short=$(batch "$images")
long=$(batch $((4 * images)))

geometry=(--distance 150 --center 1726.3,1722.6 --pixel-size 100 --tilt 0.5 --tilt-direction 40
  --range 2:40 --bins 3000 -q)
cake=(--polarization 0.99 --error-model poisson --cake 360 --cake-bins 500)
log=$work/times.log
: >"$log"
rm -f "$work"/stderr-*
# run NAME COMMAND...: wall seconds, processor seconds and peak kB of one
# whole process, appended to the log.
run() {
  local name=$1
  shift
  rm -rf "$work/out" && mkdir -p "$work/out"
  /usr/bin/time -f "$name %e %U %S %M" -a -o "$log" "$@" >/dev/null 2>>"$work/stderr-$name"
}
for ((r = 0; r < repeats; r++)); do
  for what in profiles cake; do
    options=("${geometry[@]}")
    [ $what = cake ] && options+=("${cake[@]}")
    plain=("$reduce" "$short"/*.mar3450 "${options[@]}" -o "$work/out")
    with=("${plain[@]}" --hdf5 "$work/out/run.h5" --waterfall "$work/out/run.png" --times)
    if ((r % 2 == 0)); then
      run "$what" "${plain[@]}"
      run "$what-hdf5" "${with[@]}"
    else
      run "$what-hdf5" "${with[@]}"
      run "$what" "${plain[@]}"
    fi
  done
done
rm -rf "$work/out" && mkdir -p "$work/out"
for n in "$images" $((4 * images)); do
  folder=$short
  [ "$n" != "$images" ] && folder=$long
  run "memory-$n" "$reduce" "$folder"/*.mar3450 "${geometry[@]}" "${cake[@]}" -o "$work/out" \
    --hdf5 "$work/out/run.h5" --waterfall "$work/out/run.png"
  ls -l "$work/out/run.h5" | awk -v n="$n" '{ printf "run file of %d images with the cake: %.1f MiB\n", n, $5 / 1048576 }'
done

python3 - "$log" "$images" "$work" <<'PY'
import re, statistics, sys
log, n, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
runs = {}
for line in open(log):
    name, wall, user, system, kb = line.split()
    runs.setdefault(name, []).append((float(wall), float(user) + float(system), int(kb)))
for what in ("profiles", "cake"):
    plain, with_ = runs[what], runs[what + "-hdf5"]
    for k, clock in ((0, "wall"), (1, "processor")):
        ratios = [w[k] / p[k] for p, w in zip(plain, with_)]
        print(f"{what}, {clock} time: {n} images {statistics.median(p[k] for p in plain):.2f} s, "
              f"with --hdf5 --waterfall {statistics.median(w[k] for w in with_):.2f} s; ratio "
              f"{statistics.median(ratios):.3f} (rounds {', '.join(f'{r:.3f}' for r in ratios)})")
    print(f"{what}: peak {max(p[2] for p in plain) / 1024:.0f} MiB, "
          f"with the run file {max(w[2] for w in with_) / 1024:.0f} MiB")
    times = open(f"{work}/stderr-{what}-hdf5").read()
    rows = [float(ms) for ms in re.findall(r"run file ([0-9.]+) ms", times)]
    ends = [float(ms) for ms in re.findall(r"run outputs finished in ([0-9.]+) ms", times)]
    share = (sum(rows) + sum(ends)) / 1000 / sum(w[0] for w in with_)
    print(f"{what}: the rows' writes {statistics.median(rows):.1f} ms per image (median of "
          f"{len(rows)}), closing the file and drawing the picture {statistics.median(ends):.0f} ms "
          f"a batch: {100 * share:.1f} % of the batches' wall time")
for name in sorted((k for k in runs if k.startswith("memory-")), key=lambda k: int(k[7:])):
    wall, cpu, kb = runs[name][0]
    print(f"{name[7:]} images, cake and run file: {wall:.1f} s, peak {kb / 1024:.0f} MiB")
PY
