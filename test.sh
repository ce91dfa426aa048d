#!/usr/bin/env bash
# Builds surface_repair with its tests into build/ and runs the whole suite.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" googletest libgtest-dev xvfb xauth xdotool imagemagick

cmake -S "$here" -B "$here/build" -DSURFACE_REPAIR_TESTS=ON
cmake --build "$here/build" -j "$(nproc)"
cd "$here/build"
ctest --output-on-failure -j "$(nproc)"
