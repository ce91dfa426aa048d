#!/usr/bin/env bash
# End-to-end check of filling a void (see voids_check.py): builds both
# programs into build/, then cuts a void into the bundled sample's true
# surface and into crops of the two elevation models of Debian's
# python-matplotlib-data (fetched with apt-get download into build/ when the
# package is not installed), and prints the RMSE tables.
#
#   scripts/voids_check.sh [R ...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" python3

cmake -S "$here" -B "$here/build" >/dev/null
cmake --build "$here/build" --target surface_repair surface_holes -j 2 >/dev/null

dems=/usr/share/matplotlib/mpl-data/sample_data
if [ ! -f "$dems/topobathy.npz" ]; then
  unpacked="$here/build/matplotlib-data"
  dems="$unpacked/usr/share/matplotlib/mpl-data/sample_data"
  if [ ! -f "$dems/topobathy.npz" ]; then
    mkdir -p "$unpacked"
    (cd "$unpacked" && apt-get download python-matplotlib-data >/dev/null &&
      dpkg-deb -x python-matplotlib-data_*.deb .)
  fi
fi
exec python3 "$here/scripts/voids_check.py" "$here/build" "$here/data/sample" "$dems" "$@"
