#!/usr/bin/env bash
# vokip as a facility installs it: builds the .deb and the wheel with
# scripts/package.sh, installs the .deb with apt-get and uses what it put on
# the system from another folder (the programs, their man pages, the module
# folder, the Python package under Debian's python3), removes it and looks
# for anything left of it; installs the wheel into a virtual environment.
# Also checks that the demo's packages leave out what only the tests need.
# As root on Debian 12; the package is removed again whatever happens.
set -euo pipefail
cd "$(dirname "$0")/../.."
source_dir=$PWD
python=/usr/bin/python3
work=$(mktemp -d)
passed=0
failed=0

check() { # check DESCRIPTION COMMAND...: one assertion
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $what"
  fi
}

# apt-get waits for another apt to finish rather than failing.
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -y -qq "$@" >/dev/null; }
absent() { ! grep -qx -- "$1" <<<"$2"; }
not() { ! "$@"; }
installed() { dpkg-query -W -f='${Status}' vokip 2>/dev/null | grep -q "install ok installed"; }
cleanup() {
  if installed; then apt_get remove vokip; fi
  # Removal keeps dpkg's record of the package (its maintainer scripts) until purged.
  if dpkg-query -W vokip >/dev/null 2>&1; then apt_get purge vokip; fi
  rm -rf "$work"
}
trap cleanup EXIT
if installed; then
  echo "vokip is installed already; remove it first (apt-get remove vokip)" >&2
  exit 1
fi

# --- The demo installs what building and running need, and nothing of the tests'.
# What apt-get would bring for each list, with the packages they recommend.
closure() {
  apt-cache depends --recurse --no-suggests --no-conflicts --no-breaks --no-replaces --no-enhances \
    "$@" 2>/dev/null | grep -v '^ ' | sort -u
}
only_tests=(slurm-wlm munge gnudatalanguage clang-14 g++-mingw-w64-x86-64-posix wine64
  python3-fabio python3-pyfai libgtest-dev libbenchmark-dev)
mapfile -t demo_list < <(bash scripts/setup.sh --list build)
demo_closure=$(closure "${demo_list[@]}")
mapfile -t test_list < <(bash scripts/setup.sh --list test)
test_closure=$(closure "${test_list[@]}")
for p in "${only_tests[@]}"; do
  check "the demo would install $p" absent "$p" "$demo_closure"
  check "the tests would not install $p" grep -qx -- "$p" <<<"$test_closure"
done
for p in g++ cmake libgsl-dev libsleef-dev libtiff-dev libpng-dev libcairo2-dev python3-numpy; do
  check "the demo would not install $p" grep -qx -- "$p" <<<"$demo_closure"
done
check "scripts/demo.sh asks for more than building and running" \
  grep -qx 'bash scripts/setup.sh build' scripts/demo.sh
check "a package is named twice in scripts/setup.sh" \
  test -z "$(bash scripts/setup.sh --list test | sort | uniq -d)"

# --- The package and the wheel, named by the one version.
bash scripts/package.sh
version=$(sed -n 's/^project(vokip VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$source_dir/build-package/vokip_${version}_amd64.deb
wheel=$(ls "$source_dir"/build-package/vokip-"$version"-cp3*-linux_x86_64.whl)
check "no $deb" test -f "$deb"

# Every file sits in one of the product's places (no test fixture, nothing else).
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/list"
places='^/usr/bin/vokip-(reduce|calibrate)$|^/usr/lib/vokip/|^/usr/lib/python3/dist-packages/vokip/|^/usr/share/man/man1/vokip-(reduce|calibrate)\.1\.gz$|^/usr/share/doc/vokip/'
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' >"$work/files"
check "files outside the product's places: $(grep -Ev "$places" "$work/files" | tr '\n' ' ')" \
  test -z "$(grep -Ev "$places" "$work/files")"
for f in /usr/bin/vokip-reduce /usr/bin/vokip-calibrate /usr/share/man/man1/vokip-reduce.1.gz \
  /usr/share/man/man1/vokip-calibrate.1.gz /usr/lib/vokip/vokip.so /usr/lib/vokip/vokip.dlm \
  /usr/lib/python3/dist-packages/vokip/__init__.py \
  "/usr/lib/python3/dist-packages/vokip/_vokip$($python -c 'import sysconfig; print(sysconfig.get_config_var("EXT_SUFFIX"))')" \
  /usr/share/doc/vokip/README.md /usr/share/doc/vokip/examples/reduce.pro \
  /usr/share/doc/vokip/examples/python/reduce_rings.py /usr/share/doc/vokip/samples/rings.mar1200; do
  check "the package lacks $f" grep -qx -- "$f" "$work/files"
done

# Dependencies: the package of every library a binary links, and NumPy.
depends=$(dpkg-deb -f "$deb" Depends)
mkdir "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
for lib in $(find "$work/unpacked" -type f \( -name '*.so' -o -path '*/bin/*' \) -exec objdump -p {} + |
  awk '$1 == "NEEDED" { print $2 }' | sort -u); do
  owner=$(dpkg -S "*/x86_64-linux-gnu/$lib" | head -n 1 | cut -d: -f1)
  check "Depends lacks $owner for $lib: $depends" grep -q "\(^\|, \)$owner\( \|,\|$\)" <<<"$depends"
done
for p in libgsl27 libsleef3 libtiff6 libpng16-16 libcairo2 python3-numpy; do
  check "Depends lacks $p: $depends" grep -q "\(^\|, \)$p\( \|,\|$\)" <<<"$depends"
done

# --- Installed with apt-get, used from another folder.
apt_get install "$deb"
cd "$work"
check "vokip-reduce is not /usr/bin's" test "$(command -v vokip-reduce)" = /usr/bin/vokip-reduce
check "vokip-calibrate --version" test "$(vokip-calibrate --version)" = "vokip-calibrate $version"
sample=/usr/share/doc/vokip/samples/rings.mar1200
check "the installed vokip-reduce failed on the sample" vokip-reduce "$sample" -o installed 2>/dev/null
# The same profile as the build's own program makes of the source tree's sample.
"$source_dir/build-package/cmake/cli/vokip-reduce" "$source_dir/samples/rings.mar1200" -o built 2>/dev/null
check "the installed vokip-reduce's profile differs from the build's" cmp -s installed/rings.xy built/rings.xy

# Man pages where man finds them, each naming every option its --help names.
for tool in vokip-reduce vokip-calibrate; do
  check "man -w $tool" test "$(man -w "$tool" 2>/dev/null)" = "/usr/share/man/man1/$tool.1.gz"
  page=$(zcat "/usr/share/man/man1/$tool.1.gz" | sed 's/\\-/-/g')
  for option in $("$tool" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u); do
    check "the man page of $tool lacks $option" grep -q -- "$option" <<<"$page"
  done
done

# The module folder: the library loads with the libraries it needs and
# exports the host's entry point; the description file is this version's.
check "the installed module does not load" $python -c '
import ctypes, os
ctypes.CDLL("/usr/lib/vokip/vokip.so", mode=os.RTLD_LAZY).IDL_Load'
check "vokip.dlm is not version $version" grep -qx "VERSION $version" /usr/lib/vokip/vokip.dlm

# The Python package under Debian's python3: the same profile as vokip-reduce's.
profile_check='
import sys
import numpy as np
import vokip
where, sample, xy = sys.argv[1:4]
assert vokip.__file__.startswith(where), vokip.__file__
image, header = vokip.read_mar345(sample)
assert image.shape == (1200, 1200), image.shape
profile = vokip.Reducer().integrate_file(sample)
expected = np.loadtxt(xy)
assert len(profile.radial) == len(expected), (len(profile.radial), len(expected))
assert np.allclose(profile.radial, expected[:, 0], rtol=1e-6), "angles"
assert np.allclose(profile.intensity, expected[:, 1], rtol=1e-6), "intensities"
'
check "vokip under /usr/bin/python3" \
  $python -c "$profile_check" /usr/lib/python3/dist-packages/vokip "$sample" installed/rings.xy

# --- Removed: nothing of it is left. A folder may stay only if another
# package owns it (dpkg still counts one it could not remove as vokip's).
owned_by_another() {
  local owners
  owners=$(dpkg-query -S "$1" 2>/dev/null | sed -n "s|: $1\$||p") || return 1
  tr ',' '\n' <<<"$owners" | sed 's/^ *//; s/:.*//' | grep -vx vokip >/dev/null
}
apt_get remove vokip
hash -r
check "vokip still installed after removal" not installed
while read -r path; do
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    check "left behind: the folder $path" owned_by_another "$path"
  else
    check "left behind: $path" test ! -e "$path" -a ! -L "$path"
  fi
done <"$work/list"
check "vokip-reduce is still on the path" not command -v vokip-reduce

# --- The wheel in a virtual environment that keeps Debian's NumPy.
$python -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install --quiet --no-index --disable-pip-version-check "$wheel"
check "vokip from the wheel in a virtual environment" \
  "$work/venv/bin/python" -c "$profile_check" "$work/venv/lib" "$source_dir/samples/rings.mar1200" built/rings.xy

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
