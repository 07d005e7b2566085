#!/usr/bin/env bash
# Builds, on Debian 12, the Debian package vokip_<version>_amd64.deb and the
# wheel vokip-<version>-cp3X-cp3X-linux_x86_64.whl for Debian's python3 into
# build-package/, both from one Release build of the programs, their man
# pages, the module and the Python package (build-package/cmake, no tests).
# The version is project(VERSION) in CMakeLists.txt.
#
#   apt-get install ./build-package/vokip_*.deb
#   python3 -m pip install build-package/vokip-*.whl    # in a virtual environment
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh package

out="build-package"
build=$out/cmake
jobs=$(nproc)
python=/usr/bin/python3
version=$(sed -n 's/^project(vokip VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# Dates inside the package (man pages, the module's BUILD_DATE) are the last
# commit's, so that the same commit packages the same.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && git rev-parse --git-dir >/dev/null 2>&1; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

# Debian's python3 reads packages' modules from /usr/lib/python3/dist-packages.
# Only the needed targets are built, and the package's install does not build
# everything first.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVOKIP_TESTS=OFF -DVOKIP_BENCHMARKS=OFF \
  -DPython3_EXECUTABLE=$python -DCMAKE_INSTALL_PREFIX=/usr \
  -DVOKIP_PYTHON_INSTALL_DIR=lib/python3/dist-packages -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j"$jobs" --target vokip vokip-reduce vokip-calibrate vokip_python vokip_man_pages

rm -f "$out"/vokip_*.deb "$out"/vokip-*.whl
rm -rf "$build/cpack"
(cd "$build" && cpack -G DEB -B "$PWD/cpack" >/dev/null)
mv "$build"/cpack/vokip_*.deb "$out/"

# The wheel's extension is the one just built (setup.py builds only what is
# missing in the folder VOKIP_CMAKE_BUILD_DIR names); setuptools' own folders
# are made anew so no file of an earlier build slips in.
rm -rf build-python
VOKIP_CMAKE_BUILD_DIR=$PWD/$build CMAKE_BUILD_PARALLEL_LEVEL=$jobs \
  $python -m pip wheel --quiet --no-build-isolation --no-deps --no-index --disable-pip-version-check \
  -w "$out" .

deb=$out/vokip_${version}_amd64.deb
wheel=$(ls "$out"/vokip-"$version"-*.whl)
echo "$deb: $(dpkg-deb -f "$deb" Depends)"
echo "$wheel"
