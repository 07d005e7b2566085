#!/usr/bin/env bash
# Installs what vokip needs on Debian 12 for one purpose, asking apt-get only
# for the packages that are missing:
#
#   scripts/setup.sh [build]       building and running the programs, the module
#                                  and the Python package (scripts/demo.sh)
#   scripts/setup.sh package       and making the .deb and the wheel (scripts/package.sh)
#   scripts/setup.sh test          and every test (scripts/test.sh)
#   scripts/setup.sh --list PURPOSE    prints the packages instead
#
# Each purpose adds its own list to the ones before it; further package names
# given after the purpose are installed too.
set -euo pipefail

build=(g++ cmake make binutils libgsl-dev libsleef-dev libcli11-dev libtiff-dev libpng-dev
  libcairo2-dev fonts-dejavu-core nlohmann-json3-dev pybind11-dev python3-dev python3-numpy
  libhdf5-dev)
# dpkg-shlibdeps (dpkg-dev) and file read the binaries' dependencies; pip,
# setuptools and wheel make the wheel without reaching an index.
package=(help2man dpkg-dev file python3-pip python3-setuptools python3-wheel python3-venv)
# The tests, the benchmarks, the sanitizers and fuzzers, the host GDL, Slurm,
# the comparisons with fabio and pyFAI, the Windows build under wine, and
# man for the installed package's pages.
test=(libgtest-dev libgmock-dev googletest libbenchmark-dev python3-pytest python3-fabio
  python3-pyfai python3-h5py gnudatalanguage clang-14 libclang-rt-14-dev slurm-wlm munge
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 man-db)

list_only=false
if [ "${1:-}" = --list ]; then
  list_only=true
  shift
fi
purpose=${1:-build}
[ $# -gt 0 ] && shift
case $purpose in
  build) packages=("${build[@]}") ;;
  package) packages=("${build[@]}" "${package[@]}") ;;
  test) packages=("${build[@]}" "${package[@]}" "${test[@]}") ;;
  *)
    echo "usage: scripts/setup.sh [--list] [build|package|test] [PACKAGE...]" >&2
    exit 2
    ;;
esac
packages+=("$@")

if $list_only; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  # Waits for another apt-get to finish rather than failing.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    "${missing[@]}" >/dev/null
fi
