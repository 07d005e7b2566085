#!/usr/bin/env bash
# Installs the build into an empty folder, which must then hold exactly the
# module's folder contents: vokip.dll and vokip.dlm, as the build's module
# folder (which the tests load) has them.
# Usage: check_install_folder.sh CMAKE BUILD_DIR SCRATCH_DIR
set -euo pipefail
cmake=$1 build=$2 folder=$3
rm -rf "$folder"
"$cmake" --install "$build" --prefix "$folder" >/dev/null
installed=$(cd "$folder" && find . -type f | sort | tr '\n' ' ')
if [ "$installed" != "./vokip.dll ./vokip.dlm " ]; then
  echo "FAIL: installed files: $installed"
  exit 1
fi
for f in vokip.dll vokip.dlm; do
  cmp "$folder/$f" "$build/module/$f"
done
echo "installed: $installed"
