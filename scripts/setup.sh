#!/usr/bin/env bash
# Installs what building, testing and running vokip needs on Debian 12,
# asking apt-get only for the packages that are missing. Further package
# names given as arguments are installed too.
set -euo pipefail
packages=(g++ cmake make binutils libgsl-dev libgtest-dev libgmock-dev libbenchmark-dev libsleef-dev libcli11-dev libtiff-dev libpng-dev libcairo2-dev fonts-dejavu-core nlohmann-json3-dev pybind11-dev python3-dev python3-numpy python3-pytest python3-fabio python3-pyfai gnudatalanguage clang-14 libclang-rt-14-dev slurm-wlm munge "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
