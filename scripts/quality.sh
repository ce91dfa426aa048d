#!/usr/bin/env bash
# The repair quality benchmark: holes cut into real elevation models with
# known heights, repaired over a scan of R and with `auto`.
#
#   scripts/quality.sh                   the tuning, held-out and fresh cases (a few minutes)
#   scripts/quality.sh --cases sample    the cases named so, or with these words in their names
#   scripts/quality.sh --set held        one set: tuning, held, fresh, final, new, second or
#                                        third (the last four run only when asked for, also
#                                        with --final)
#   scripts/quality.sh --scan            also the RMSE at every R scanned
#   scripts/quality.sh --bound           also how often any choice of R would miss the
#                                        ratio limit on interiors drawn from the terrain's
#                                        models (installs python3-numpy; rescans)
#   scripts/quality.sh --work DIR --reuse-scan
#                                        keep the cases in DIR and take the scans
#                                        of an earlier run there (only auto reruns)
#
# Builds surface_repair into build-quality/. The elevation models come from
# Debian's python-matplotlib-data (public-domain USGS and NOAA data), and for
# the new terrains from r-base-core (R's volcano) and r-cran-fields (its
# Rocky Mountain and contiguous-US elevation grids); a package not installed
# is fetched with `apt-get download` and unpacked into build-quality/ (no root
# needed). Prints the tables on standard output,
# one line per case on standard error as it goes.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" python3
for arg in "$@"; do
  if [ "$arg" = --bound ]; then ensure_packages python3-numpy; fi
done

build="$here/build-quality"
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" --target surface_repair -j 2 >/dev/null

source "$here/scripts/terrains.sh"
find_terrains "$build"

exec /usr/bin/python3 "$here/scripts/quality.py" "$build/app/surface_repair" "$here/data/sample" \
  "$TERRAIN_DATA" --r-root "$TERRAIN_R_ROOT" "$@"
