#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) with clang into build-fuzz/, replays the
# committed regression inputs, then runs each target for a bounded time from
# the seed corpus in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh            the CI run: a fixed seed and a fixed number of
#                              executions per target (FUZZ_SEED, FUZZ_RUNS_IDLIST,
#                              FUZZ_RUNS_INPUTS), at most FUZZ_SECONDS (default
#                              45) each, so that a run that passed here passes
#                              in CI as well
#   FUZZ_SEED=0 scripts/fuzz.sh
#                              a fresh random seed: exploration, not for CI
#
# A crash, a leak, a sanitizer finding, a failed check or a hang makes the
# script fail; the input that caused it is left in build-fuzz/artifacts/. Such
# an input belongs in fuzz/regressions/<target>/ once its fault is fixed.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
source "$here/scripts/deps.sh"
ensure_packages "${BUILD_PACKAGES[@]}" clang libclang-rt-dev

seconds="${FUZZ_SECONDS:-45}"
build="$here/build-fuzz"
cmake -S "$here/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2

mkdir -p "$build/artifacts"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
# Leaks inside VTK itself, documented in the file.
export LSAN_OPTIONS="suppressions=$here/fuzz/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for name in idlist inputs; do
  target="$build/fuzz_$name"
  regressions=("$here/fuzz/regressions/$name"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "fuzz_$name: replaying ${#regressions[@]} regression inputs"
    "$target" "${regressions[@]}" >"$build/replay_$name.log" 2>&1 || {
      cat "$build/replay_$name.log" >&2
      exit 1
    }
  fi
  work="$build/corpus_$name"
  rm -rf "$work"
  mkdir -p "$work"
  echo "fuzz_$name: fuzzing for $seconds s"
  case "$name" in
    idlist) runs="${FUZZ_RUNS_IDLIST:-2000000}" ;;
    *) runs="${FUZZ_RUNS_INPUTS:-60000}" ;;
  esac
  limit=(-seed="${FUZZ_SEED:-20261207}" -runs="$runs")
  if [ "${FUZZ_SEED:-20261207}" = 0 ]; then
    limit=()
  fi
  if ! "$target" "$work" "$here/fuzz/corpus/$name" "${limit[@]}" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/fuzz_${name}_" >"$build/fuzz_$name.log" 2>&1; then
    tail -n 60 "$build/fuzz_$name.log" >&2
    echo "fuzz_$name found a fault: see $build/artifacts/" >&2
    exit 1
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz_$name.log" | tail -n 1)"
  echo "fuzz_$name: ${runs:-?} executions, no fault"
done
