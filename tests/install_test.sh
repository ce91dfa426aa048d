#!/usr/bin/env bash
# cmake --install of a build into a temporary prefix, used as a user would:
# the installed programs (surface_fill when the build has it) run on the
# bundled sample, the installed Python package imports from the prefix, and
# examples/cpp configures against the CMake package SurfaceRepair
# (find_package, SurfaceRepair::Filter), builds, repairs the sample and
# refuses a missing id list without writing a result.
#
#   install_test.sh BUILD SOURCE CMAKE PYTHON CXX_FLAGS LINKER_FLAGS
#
# PYTHON is Debian's interpreter; "-" skips the Python package (a sanitized
# build, whose module an unsanitized interpreter cannot load). The flags are
# those of the build, given to the example's build too.
set -euo pipefail
build=$1 source=$2 cmake=$3 python=$4 cxx_flags=$5 linker_flags=$6
sample=$source/data/sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
  { cat "$work/install.log"; fail "cmake --install $build"; }
for file in bin/surface_repair bin/surface_holes include/surface_repair/vtkSurfaceRepairFilter.h \
    include/surface_repair/SurfaceRepairFilterModule.h lib/libSurfaceRepairFilter.so \
    lib/cmake/SurfaceRepair/SurfaceRepairConfig.cmake python/surface_repair/__init__.py; do
  [ -e "$prefix/$file" ] || fail "$file is not installed"
done

# The installed programs, away from the build and the sources.
mkdir "$work/run"
cd "$work/run"
env -u DISPLAY "$prefix/bin/surface_repair" "$sample/model.vtk" "$sample/inside.pts" \
  "$sample/outside.pts" 0.12 >repair.log 2>&1 || { cat repair.log; fail "installed surface_repair"; }
grep -q "^Affected points: 638\.$" repair.log || { cat repair.log; fail "surface_repair moved no 638 points"; }
"$prefix/bin/surface_holes" --inside "$sample/inside.pts" "$sample/model.vtk" >holes.log 2>&1 ||
  { cat holes.log; fail "installed surface_holes"; }
cmp -s inside.pts "$sample/inside.pts" || fail "surface_holes wrote another inside list"
if [ -e "$build/fill/surface_fill" ]; then
  "$prefix/bin/surface_fill" -q --inside "$sample/inside.pts" "$sample/model.vtk" filled.vtk \
    >fill.log 2>&1 || { cat fill.log; fail "installed surface_fill"; }
  [ -s filled.vtk ] || fail "installed surface_fill wrote no result"
fi
if [ "$python" != - ]; then
  env -u PYTHONPATH PYTHONPATH="$prefix/python" "$python" -c \
    "import surface_repair; assert surface_repair.__file__.startswith('$prefix/'), surface_repair.__file__; surface_repair.vtkSurfaceRepairFilter()" ||
    fail "the installed Python package does not import"
fi

# examples/cpp against the installed package.
"$cmake" -S "$source/examples/cpp" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS="$cxx_flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$linker_flags" >"$work/example.log" 2>&1 ||
  { cat "$work/example.log"; fail "examples/cpp does not configure against $prefix"; }
"$cmake" --build "$work/example" >>"$work/example.log" 2>&1 ||
  { cat "$work/example.log"; fail "examples/cpp does not build"; }
example=$work/example/repair_sample
ldd "$example" | grep -q "$prefix/lib/libSurfaceRepairFilter.so" ||
  { ldd "$example"; fail "repair_sample does not load the installed filter library"; }
"$example" "$sample/model.vtk" "$sample/inside.pts" "$sample/outside.pts" 0.12 repaired.vtk \
  >example.out || fail "repair_sample on the sample"
[ "$(cat example.out)" = "Radius 0.12: repaired.vtk written" ] || { cat example.out; fail "its output"; }
if [ "$python" != - ]; then
  "$python" "$source/tests/sample_rmse.py" repaired.vtk "$sample" 16.35 16.75 ||
    fail "repair_sample's result"
else
  grep -aq "^POINTS 10000 float" repaired.vtk || fail "repaired.vtk holds no 10000 points"
fi

# A missing list: a message naming it, status 1, no result and no leftover.
if "$example" "$sample/model.vtk" "$sample/inside.pts" missing.pts 0.12 bad.vtk 2>error.txt; then
  fail "repair_sample accepted a missing outside list"
fi
grep -q "missing.pts" error.txt || { cat error.txt; fail "the message names no list"; }
[ ! -e bad.vtk ] && [ ! -e bad.vtk.part ] || fail "a result was written after an error"
echo "installed to $prefix: programs, Python package and examples/cpp work"
