#!/usr/bin/env bash
# End-to-end check of filling a void on the bundled sample (see
# voids_check.py): builds both programs into build/ and prints the RMSE table.
#
#   scripts/voids_check.sh [R ...]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" python3

cmake -S "$here" -B "$here/build" >/dev/null
cmake --build "$here/build" --target surface_repair surface_holes -j 2 >/dev/null
exec python3 "$here/scripts/voids_check.py" "$here/build" "$here/data/sample" "$@"
