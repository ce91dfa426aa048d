#!/usr/bin/env bash
# Builds the benchmark into build-bench/ and runs it.
#
#   scripts/bench.sh            quick set of sizes (about a minute)
#   scripts/bench.sh --full     every size: models up to 10^6 vertices (minutes)
#   scripts/bench.sh --case MODEL INSIDE OUTSIDE R   the tables on your own data
#   scripts/bench.sh --help     the other options
#
# Everything runs on one thread. CHOLMOD is measured on OpenBLAS: on the
# reference BLAS it is several times slower, which would flatter the envelope.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" libeigen3-dev libsuitesparse-dev libopenblas-dev

export OPENBLAS_NUM_THREADS=1
export OMP_NUM_THREADS=1

# CHOLMOD calls the BLAS through libblas.so.3, whichever library the Debian
# alternative points at. Installing libopenblas-dev normally makes that
# OpenBLAS; if the alternative was set to the reference BLAS by hand, load
# OpenBLAS ahead of it. The benchmark prints the library it has loaded.
multiarch="$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)"
blas="$(readlink -f "/usr/lib/$multiarch/libblas.so.3" 2>/dev/null || true)"
openblas_dir="/usr/lib/$multiarch/openblas-pthread"
if [[ "$blas" != *openblas* && -d "$openblas_dir" ]]; then
  export LD_LIBRARY_PATH="$openblas_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
fi

cmake -S "$here" -B "$here/build-bench" -DSURFACE_REPAIR_BENCH=ON >/dev/null
cmake --build "$here/build-bench" --target surface_repair surface_repair_bench -j "$(nproc)" >/dev/null

# The benchmark's progress goes to standard error, the tables to standard output.
exec "$here/build-bench/bench/surface_repair_bench" "$@"
