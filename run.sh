#!/usr/bin/env bash
# Builds surface_repair, surface_holes, surface_fill and the Python package
# surface_repair (build/python) into build/ if needed and runs surface_repair
# (surface_holes is then build/holes/surface_holes, surface_fill
# build/fill/surface_fill). Debian packages the build needs are installed only
# when one is missing (scripts/deps.sh).
#
#   ./run.sh                      repairs the bundled sample (R = 0.12)
#   ./run.sh MODEL INSIDE OUTSIDE R
#                                 repairs your own model; the result,
#                                 reconstucted_shape.vtk, is written to the
#                                 current directory
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -ne 0 ] && [ $# -ne 4 ]; then
  echo "Usage: ./run.sh [MODEL INSIDE OUTSIDE R]  (no arguments repairs the bundled sample)" >&2
  exit 2
fi
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" "${DASK_FILL_PACKAGES[@]}"

# The build's own output goes to build/build.log; its errors to the terminal.
if [ -f "$here/build/CMakeCache.txt" ]; then
  echo "Bringing the build in build/ up to date..."
else
  echo "Building surface_repair, surface_holes, surface_fill and the Python package into" \
    "build/ (the first build takes about a minute on 2 free cores, up to 4 on a busy machine)..."
fi
mkdir -p "$here/build"
log="$here/build/build.log"
if ! { cmake -S "$here" -B "$here/build" && cmake --build "$here/build" -j "$(nproc)"; } >"$log"
then
  echo "The build failed: its errors are above, its whole output in $log" >&2
  exit 1
fi

if [ $# -eq 4 ]; then
  echo "Running $here/build/app/surface_repair $*"
  exec "$here/build/app/surface_repair" "$@"
fi
sample="$here/data/sample"
cd "$here"
echo "Running build/app/surface_repair on the bundled sample (data/sample, R = 0.12)"
exec "$here/build/app/surface_repair" "$sample/model.vtk" "$sample/inside.pts" "$sample/outside.pts" 0.12
