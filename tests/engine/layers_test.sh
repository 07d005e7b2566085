#!/usr/bin/env bash
# The engine's folders form layers (engine/CMakeLists.txt): each folder
# includes only folders of its own layer or below. Prints every include that
# reaches up, and fails if there is one.
set -euo pipefail
engine=$1
layer_of() {
  case $1 in
    base | memory) echo 0 ;;
    geometry) echo 1 ;;
    profile) echo 2 ;;
    formats) echo 3 ;;
    plan) echo 4 ;;
    pictures) echo 5 ;;
    run) echo 6 ;;
    calibrate) echo 7 ;;
    *) echo "unknown folder engine/$1" >&2; exit 2 ;;
  esac
}
bad=0
for file in "$engine"/*/*.h "$engine"/*/*.cpp; do
  folder=$(basename "$(dirname "$file")")
  own=$(layer_of "$folder")
  while read -r included; do
    other=$(layer_of "$included")
    if [ "$other" -gt "$own" ]; then
      echo "${file#"$engine"/} includes engine/$included, a layer above it"
      bad=1
    fi
  done < <(sed -n 's#^\#include "engine/\([a-z_]*\)/.*#\1#p' "$file")
done
exit $bad
