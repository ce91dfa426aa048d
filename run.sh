#!/usr/bin/env bash
# Builds surface_repair and surface_holes into build/ if needed and runs
# surface_repair (surface_holes is then build/holes/surface_holes).
#
#   ./run.sh                      repairs the bundled sample (R = 0.12)
#   ./run.sh MODEL INSIDE OUTSIDE R
#                                 repairs your own model; the result,
#                                 reconstucted_shape.vtk, is written to the
#                                 current directory
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}"

cmake -S "$here" -B "$here/build" >/dev/null
cmake --build "$here/build" --target surface_repair surface_holes -j "$(nproc)" >/dev/null

if [ $# -eq 4 ]; then
  exec "$here/build/app/surface_repair" "$@"
fi
sample="$here/data/sample"
cd "$here"
exec "$here/build/app/surface_repair" "$sample/model.vtk" "$sample/inside.pts" "$sample/outside.pts" 0.12
