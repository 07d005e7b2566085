#!/usr/bin/env bash
# Builds the module for 64-bit Windows (build-windows/module/vokip.dll beside
# vokip.dlm) with Debian's mingw-w64, runs its tests under wine, and installs
# the module folder to build-windows/vokip. GSL and GoogleTest are cross-built
# from Debian's sources once, into a cache outside the clone: VOKIP_CACHE,
# else /var/cache/vokip as root, else ${XDG_CACHE_HOME:-~/.cache}/vokip.
#
#   scripts/windows.sh         build and test
#   scripts/windows.sh bench   then time the geometry maps of the Windows build
#                              (under wine) against the Linux builds, with
#                              SLEEF and with the module's own arc tangents
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc)
mingw=x86_64-w64-mingw32

bash scripts/setup.sh test

if [ -n "${VOKIP_CACHE:-}" ]; then
  cache=$VOKIP_CACHE
elif [ "$(id -u)" -eq 0 ]; then
  cache=/var/cache/vokip
else
  cache=${XDG_CACHE_HOME:-$HOME/.cache}/vokip
fi
prefix=$cache/$mingw
mkdir -p "$prefix/share/vokip"
export WINEPREFIX=$cache/wine WINEDEBUG=-all
wine=/usr/lib/wine/wine64
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

compiler_version=$($mingw-gcc-posix -dumpfullversion)

# Runs a command with its output kept back unless it fails.
quiet() {
  local log
  log=$(mktemp)
  if ! "$@" >"$log" 2>&1; then
    tail -n 60 "$log"
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# Runs "$@" (which builds one dependency into $prefix) unless the stamp file
# $1 already records the same source and compiler versions.
cached() {
  local name=$1 version="$2 $compiler_version"
  shift 2
  local stamp=$prefix/share/vokip/$name
  if [ "$(cat "$stamp" 2>/dev/null)" = "$version" ]; then return; fi
  echo "cross-building $name ($version) into $prefix"
  "$@"
  echo "$version" >"$stamp"
}

# apt-get source needs a deb-src entry for the suite the packages come from.
add_source_entries() {
  if apt-get source --download-only --print-uris gsl >/dev/null 2>&1; then return; fi
  . /etc/os-release
  local uri
  uri=$(apt-get indextargets --format '$(SITE) $(RELEASE)' 'Created-By: Packages' |
    awk -v suite="$VERSION_CODENAME" '$2 == suite { print $1; exit }')
  printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
    "$uri" "$VERSION_CODENAME" /usr/share/keyrings/debian-archive-keyring.gpg |
    $SUDO tee /etc/apt/sources.list.d/vokip-deb-src.sources >/dev/null
  $SUDO apt-get update -qq
}

# GSL from Debian's source package (with Debian's patches), static only, and
# only the parts the module and its tests call (errors, vectors, sorting,
# statistics; CBLAS because GSL's CMake package asks for it): the whole
# library takes about four minutes to cross-build here, these parts one.
gsl_parts=(sys utils err block vector sort statistics)
build_gsl() {
  add_source_entries
  local work
  work=$(mktemp -d)
  (cd "$work" && quiet apt-get source gsl)
  local src
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'gsl-*')
  (
    cd "$src"
    quiet ./configure --host=$mingw --prefix="$prefix" --disable-shared --enable-static CFLAGS=-O2 \
      AR_FLAGS=cr
    quiet make -C gsl # the folder of links to every part's headers
    local part
    for part in "${gsl_parts[@]}" cblas; do quiet make -C "$part" -j"$jobs"; done
    mkdir -p "$prefix/include/gsl" "$prefix/lib"
    cp -L gsl/*.h "$prefix/include/gsl/"
    # One archive of the parts' archives; members of the same name (each
    # part has an init.o) are all kept.
    rm -f "$prefix/lib/libgsl.a"
    {
      echo "create $prefix/lib/libgsl.a"
      for part in "${gsl_parts[@]}"; do
        find "$part/.libs" -name '*.a' -printf 'addlib %p\n'
      done
      echo save
      echo end
    } | $mingw-ar -M
    cp cblas/.libs/libgslcblas.a "$prefix/lib/"
  )
  rm -rf "$work"
}

# GoogleTest from Debian's own source tree.
build_googletest() {
  local work
  work=$(mktemp -d)
  quiet cmake -S /usr/src/googletest -B "$work" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=ON
  quiet cmake --build "$work" -j"$jobs"
  quiet cmake --install "$work"
  rm -rf "$work"
}

# Google Benchmark from Debian's source package, for the bench step only.
build_benchmark() {
  local work
  work=$(mktemp -d)
  (cd "$work" && quiet apt-get source benchmark)
  local src
  src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'benchmark-*')
  # Debian's build names the version (its sources do not read it from git).
  quiet cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DGIT_VERSION="$(basename "$src" | sed 's/^benchmark-//')" -DBENCHMARK_ENABLE_TESTING=OFF \
    -DBENCHMARK_ENABLE_GTEST_TESTS=OFF -DBENCHMARK_ENABLE_WERROR=OFF
  quiet cmake --build "$work/build" -j"$jobs"
  quiet cmake --install "$work/build"
  rm -rf "$work"
}

cached gsl "$(dpkg-query -W -f='${Version}' libgsl-dev) ${gsl_parts[*]}" build_gsl
cached googletest "$(dpkg-query -W -f='${Version}' googletest)" build_googletest

# A wine prefix of its own, made once (its first start takes some seconds).
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "making the wine prefix $WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true
fi

# The Linux build's module tests, each logging the calls it makes into the
# module; the Windows build replays them and must agree (test_linux_agreement).
logged_tests=(test_load_entry test_unpck_shell test_geometry_shells test_integrate_shells
  test_reduction test_bad_arguments)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVOKIP_TESTS=ON >/dev/null
cmake --build build -j"$jobs" --target vokip "${logged_tests[@]}" >/dev/null
logs=$root/build-windows/linux-calls
rm -rf "$logs"
mkdir -p "$logs"
for t in "${logged_tests[@]}"; do
  quiet env VOKIP_HOST_CALL_LOG="$logs/$t.calls" build/tests/*/"$t"
done

windows_config=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
  -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release)
cmake -S . -B build-windows "${windows_config[@]}" -DVOKIP_BENCHMARKS=OFF \
  -DVOKIP_LINUX_CALL_LOGS="$logs" >/dev/null
cmake --build build-windows -j"$jobs"
(cd build-windows && ctest --output-on-failure -j"$jobs")
rm -rf build-windows/vokip
cmake --install build-windows --prefix build-windows/vokip >/dev/null
echo "Windows module folder: build-windows/vokip ($(ls build-windows/vokip | tr '\n' ' '))"

if [ "${1:-}" = bench ]; then
  add_source_entries
  cached benchmark "$(apt-cache showsrc benchmark | awk '/^Version:/ { print $2; exit }')" build_benchmark
  cmake -S . -B build-windows-bench "${windows_config[@]}" -DVOKIP_TESTS=OFF >/dev/null
  cmake --build build-windows-bench -j"$jobs" --target bench_geometry
  cmake -S . -B build-own-atan -DCMAKE_BUILD_TYPE=Release -DVOKIP_SLEEF=OFF -DVOKIP_TESTS=OFF \
    >/dev/null
  cmake --build build-own-atan -j"$jobs" --target bench_geometry
  cmake --build build -j"$jobs" --target bench_geometry
  bash bench/geometry_platforms.sh 5 "Linux, SLEEF=build/bench/bench_geometry" \
    "Linux, own atan=build-own-atan/bench/bench_geometry" \
    "Windows under wine, own atan=$wine build-windows-bench/bin/bench_geometry.exe"
fi
