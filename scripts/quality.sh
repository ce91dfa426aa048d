#!/usr/bin/env bash
# The repair quality benchmark: holes cut into real elevation models with
# known heights, repaired over a scan of R and with `auto`.
#
#   scripts/quality.sh                   every case but the final ones (a few minutes)
#   scripts/quality.sh --cases sample    the cases named so, or with these words in their names
#   scripts/quality.sh --set held        one set: tuning, held, fresh or final (the final
#                                        cases run only when asked for, also with --final)
#   scripts/quality.sh --scan            also the RMSE at every R scanned
#   scripts/quality.sh --work DIR --reuse-scan
#                                        keep the cases in DIR and take the scans
#                                        of an earlier run there (only auto reruns)
#
# Builds surface_repair into build-quality/. The elevation models come from
# Debian's python-matplotlib-data (public-domain USGS and NOAA data); when the
# package is not installed it is fetched with `apt-get download` and unpacked
# into build-quality/ (no root needed). Prints the tables on standard output,
# one line per case on standard error as it goes.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" python3

build="$here/build-quality"
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" --target surface_repair -j 2 >/dev/null

data=/usr/share/matplotlib/mpl-data/sample_data
if [ ! -f "$data/jacksboro_fault_dem.npz" ]; then
  data="$build/mpl/usr/share/matplotlib/mpl-data/sample_data"
  if [ ! -f "$data/jacksboro_fault_dem.npz" ]; then
    mkdir -p "$build/mpl"
    (cd "$build/mpl" && apt-get download python-matplotlib-data >/dev/null &&
      dpkg-deb -x python-matplotlib-data_*.deb .)
  fi
fi

exec /usr/bin/python3 "$here/scripts/quality.py" "$build/app/surface_repair" "$here/data/sample" \
  "$data" "$@"
