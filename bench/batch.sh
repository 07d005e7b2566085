#!/usr/bin/env bash
# A batch of 3450 x 3450 MAR345 images with one geometry, reduced by
#   - vokip-reduce as built from this tree: pixel centres without
#     corrections (the module's binning, as the earlier tool), pixel
#     centres with the solid angle, pixels split (bbox, the default) with
#     --polarization 0.99 --error-model poisson, and the same with the cake
#     (--cake 360 --cake-bins 500, its TIFF and axes written beside the
#     profile),
#   - vokip-reduce as it was at an earlier revision (PREVIOUS, default
#     0ada327), built beside it, without corrections,
#   - fabio + pyFAI in one Python process (Debian's python3-fabio and
#     python3-pyfai), one integrator made once whose engine is kept from
#     image to image (bench/pyfai_batch.py): pixel centres without
#     corrections, and pyFAI's default bbox splitting with the same
#     corrections,
# each run in turn, REPEATS times. Steady state per image is (time of the
# whole batch - time of its first three images alone) / (images - 3), from
# whole process runs, so that neither the first image's plan (or pyFAI's
# set-up) nor the first images' fresh memory counts; peak memory is the
# batch's maximum resident set (/usr/bin/time). First the two vokip-reduce
# builds reduce a set of cases on 1200 x 1200 images, pixel centres without
# corrections, and their profiles' numbers are compared byte for byte (the
# .xy's and .chi's data lines, the whole .csv).
#   bench/batch.sh [IMAGES] [REPEATS]     (defaults 9 and 3)
# Needs: what scripts/setup.sh installs, python3-fabio, python3-pyfai.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
images=${1:-9}
first=3
repeats=${2:-3}
previous=${PREVIOUS:-0ada327}
work=${BENCH_DIR:-/tmp/vokip-batch-bench}
mkdir -p "$work"

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target vokip-reduce vokip-make-sample >/dev/null
current=$root/build/cli/vokip-reduce
make_sample=$root/build/tools/vokip-make-sample

# The earlier revision, built once into the work folder.
old_tree=$work/previous-$previous
if [ -z "$(find "$old_tree/build" -name vokip-reduce -type f -perm -u+x 2>/dev/null)" ]; then
  rm -rf "$old_tree"
  git worktree add --force --detach "$old_tree" "$previous" >/dev/null
  cmake -S "$old_tree" -B "$old_tree/build" -DCMAKE_BUILD_TYPE=Release -DVOKIP_TESTS=OFF \
    -DVOKIP_BENCHMARKS=OFF >/dev/null
  cmake --build "$old_tree/build" -j"$(nproc)" --target vokip vokip-reduce >/dev/null
fi
old=$(find "$old_tree/build" -name vokip-reduce -type f -perm -u+x | head -1)

# Byte-for-byte the same outputs (but the version in the first line).
cases=$work/cases
rm -rf "$cases" && mkdir -p "$cases"
"$make_sample" "$cases/little.mar1200" --tilt 1.5 --tilt-direction 30 --seed 1 >/dev/null
"$make_sample" "$cases/big.mar1200" --big-endian --seed 2 >/dev/null
python3 -c "
w = h = 1200
rows = bytearray(w * h)
for r in range(400, 460):
    rows[r * w:(r + 1) * w] = b'\x01' * w
open('$cases/mask.pgm', 'wb').write(b'P5 1200 1200 255\n' + bytes(rows))"
options=(
  ""
  "--median"
  "--unit q --bin-width 0.004"
  "--unit q --median --range 1:4"
  "--range 8:30 --bins 1111"
  "--azimuth -45:120 --median"
  "--azimuth 200:300 --mask $cases/mask.pgm"
  "--mask $cases/mask.pgm --bins 1 --range 5:40"
  "--tilt 1.5 --tilt-direction 30 --bin-width 0.02"
)
differ=0
for k in "${!options[@]}"; do
  for image in little big; do
    for tool in old new; do
      out=$cases/$tool-$k
      mkdir -p "$out"
      if [ $tool = new ]; then
        # shellcheck disable=SC2086
        "$current" "$cases/$image.mar1200" ${options[$k]} --split none --no-solid-angle --chi --csv -q -o "$out"
      else
        # shellcheck disable=SC2086
        "$old" "$cases/$image.mar1200" ${options[$k]} --no-solid-angle --chi --csv -q -o "$out"
      fi
    done
    for ext in xy chi csv; do
      numbers() {
        case $ext in
          xy) grep -v '^#' "$1" ;;
          chi) sed 1,4d "$1" ;;
          csv) cat "$1" ;;
        esac
      }
      if ! cmp -s <(numbers "$cases/old-$k/$image.$ext") <(numbers "$cases/new-$k/$image.$ext"); then
        echo "differ: $image.$ext with '${options[$k]}'"
        differ=$((differ + 1))
      fi
    done
  done
done
echo "outputs compared: ${#options[@]} option sets x 2 images x 3 formats, $differ differ"

# The batch.
batch=$work/batch
mkdir -p "$batch"
for ((k = 0; k < images; k++)); do
  [ -f "$batch/image$k.mar3450" ] ||
    "$make_sample" "$batch/image$k.mar3450" --size 3450 --tilt 0.5 --tilt-direction 40 --seed $k >/dev/null
done
files=("$batch"/image*.mar3450)
geometry=(--distance 150 --center 1726.3,1722.6 --pixel-size 100 --tilt 0.5 --tilt-direction 40 --bins 3000)

# run NAME LOG COMMAND...: wall seconds and peak kB of one whole process, appended to LOG.
run() {
  local name=$1 log=$2
  shift 2
  /usr/bin/time -f "$name %e %M" -a -o "$log" "$@" >/dev/null 2>&1
}
log=$work/times.log
: >"$log"
tools=(previous centres centres-corrected split cake pyfai pyfai-split)
peer=(/usr/bin/python3 "$root/bench/pyfai_batch.py")
corrected=(--polarization 0.99 --error-model poisson)
for ((r = 0; r < repeats; r++)); do
  for tool in "${tools[@]}"; do
    case $tool in
      previous) cmd=("$old" "${geometry[@]}" --no-solid-angle -q -o "$work/out-previous") ;;
      centres) cmd=("$current" "${geometry[@]}" --split none --no-solid-angle -q -o "$work/out-current") ;;
      centres-corrected) cmd=("$current" "${geometry[@]}" --split none -q -o "$work/out-current") ;;
      split) cmd=("$current" "${geometry[@]}" "${corrected[@]}" -q -o "$work/out-current") ;;
      cake)
        cmd=("$current" "${geometry[@]}" "${corrected[@]}" --cake 360 --cake-bins 500 -q -o "$work/out-current")
        ;;
      pyfai) cmd=("${peer[@]}" 150 1726.3 1722.6 100 0.5 40 3000) ;;
      pyfai-split) cmd=("${peer[@]}" --corrected --method bbox,csr,cython 150 1726.3 1722.6 100 0.5 40 3000) ;;
    esac
    run "$tool-first" "$log" "${cmd[@]}" "${files[@]:0:$first}"
    run "$tool-all" "$log" "${cmd[@]}" "${files[@]}"
  done
done

python3 - "$log" "$images" "$first" <<'PY'
import statistics, sys
log, n, first = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
runs = {}
for line in open(log):
    name, seconds, kb = line.split()
    runs.setdefault(name, []).append((float(seconds), int(kb)))
steady = {}
for tool in ("previous", "centres", "centres-corrected", "split", "cake", "pyfai", "pyfai-split"):
    one, all_ = runs[tool + "-first"], runs[tool + "-all"]
    per = [(a[0] - o[0]) / (n - first) for o, a in zip(one, all_)]
    steady[tool] = statistics.median(per)
    print(f"{tool:15s}: {first} images {statistics.median(o[0] for o in one):.2f} s, "
          f"{n} images {statistics.median(a[0] for a in all_):.2f} s, "
          f"steady state {steady[tool] * 1000:.0f} ms per image "
          f"(runs {', '.join(f'{p * 1000:.0f}' for p in per)}), "
          f"peak {max(a[1] for a in all_) / 1024:.0f} MiB")
# Ratios round by round (the tools of a round ran one after another), then
# their median: a machine that slows down for a while slows both.
def per_round(tool):
    return [(a[0] - o[0]) / (n - first) for o, a in zip(runs[tool + "-first"], runs[tool + "-all"])]
def ratio(a, b):
    rounds = [x / y for x, y in zip(per_round(a), per_round(b))]
    return statistics.median(rounds), rounds
for a, b in (("centres", "previous"), ("centres-corrected", "centres"), ("split", "centres"),
             ("cake", "split"), ("pyfai", "centres"), ("pyfai-split", "split")):
    median, rounds = ratio(a, b)
    print(f"{a} / {b} per image: {median:.2f} (rounds {', '.join(f'{r:.2f}' for r in rounds)})")
PY
