#!/usr/bin/env bash
# Builds surface_holes into build/ and times it on a generated height field
# of 10^6 vertices with voids (binary model; --ascii for an ASCII one).
#
#   scripts/holes_bench.sh [--size N] [--runs K] [--ascii]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" python3

cmake -S "$here" -B "$here/build" >/dev/null
cmake --build "$here/build" --target surface_holes -j 2 >/dev/null
exec python3 "$here/scripts/holes_bench.py" "$here/build/holes/surface_holes" "$@"
