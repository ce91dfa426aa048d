#!/usr/bin/env bash
# The void-filling benchmark: mosaics of real elevation models (1000 x 1000 and
# 2000 x 2000 cells) with a few hundred voids cut in, filled by surface_fill
# (GeoTIFF on 1 and 2 threads, VTK mesh on 2), by surface_holes followed by
# surface_repair auto, by GDAL's FillNodata and by GRASS's r.fillnulls, all
# scored against the true heights in one table per mosaic.
#
#   scripts/fill_bench.sh                      both mosaics, every method
#   scripts/fill_bench.sh --size 1000          one mosaic (1000 or 2000)
#   scripts/fill_bench.sh --voids N --seed S   other voids (358, seed 24 by default)
#   scripts/fill_bench.sh --skip-grass --skip-two-command
#                                              without the slow ones
#   scripts/fill_bench.sh --work DIR           keep the mosaics and results in DIR
#   scripts/fill_bench.sh --grass-from DIR     GRASS's results and times from an
#                                              earlier --work DIR (same mosaics)
#
# Builds the programs into build/ (FILL_BENCH_BUILD=DIR for another one).
# Installs gdal-bin, python3-gdal, python3-numpy and (unless --skip-grass)
# grass-core with apt when they are missing. The elevation models come from
# python-matplotlib-data, r-base-core and r-cran-fields, unpacked into the
# build directory with `apt-get download` when not installed (no root needed).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
packages=("${BUILD_PACKAGES[@]}" python3 python3-numpy python3-gdal gdal-bin)
grass=yes
for arg in "$@"; do
  if [ "$arg" = --skip-grass ]; then grass=no; fi
done
if [ "$grass" = yes ]; then packages+=(grass-core); fi
ensure_packages "${packages[@]}"

build="${FILL_BENCH_BUILD:-$here/build}"
cmake -S "$here" -B "$build" >/dev/null
cmake --build "$build" --target surface_holes surface_repair -j 2 >/dev/null
cmake --build "$build" --target surface_fill -j 2 >/dev/null ||
  echo "surface_fill did not build: its rows are left out" >&2

source "$here/scripts/terrains.sh"
find_terrains "$build"

exec /usr/bin/python3 -B "$here/scripts/fill_bench.py" "$build/fill/surface_fill" \
  "$build/holes/surface_holes" "$build/app/surface_repair" "$TERRAIN_DATA" "$TERRAIN_R_ROOT" "$@"
