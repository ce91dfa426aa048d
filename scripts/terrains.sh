# Sourced by quality.sh and fill_bench.sh: finds the real elevation models the
# benchmarks cut their holes into, unpacking their Debian packages under a
# build folder when they are not installed (apt-get download needs no root).
#
#   find_terrains BUILD_DIR
#
# sets TERRAIN_DATA (the sample_data folder of python-matplotlib-data: the
# Jacksboro fault DEM and the topography/bathymetry grid) and TERRAIN_R_ROOT
# (the root under which R's volcano, in r-base-core, and the elevation grids
# of R's fields package lie).

find_terrains() {
  local build="$1"
  TERRAIN_DATA=/usr/share/matplotlib/mpl-data/sample_data
  if [ ! -f "$TERRAIN_DATA/jacksboro_fault_dem.npz" ]; then
    TERRAIN_DATA="$build/mpl/usr/share/matplotlib/mpl-data/sample_data"
    if [ ! -f "$TERRAIN_DATA/jacksboro_fault_dem.npz" ]; then
      mkdir -p "$build/mpl"
      (cd "$build/mpl" && apt-get download python-matplotlib-data >/dev/null &&
        dpkg-deb -x python-matplotlib-data_*.deb .)
    fi
  fi
  local fields=usr/lib/R/site-library/fields/data
  TERRAIN_R_ROOT=/
  if [ ! -f /usr/lib/R/library/datasets/data/Rdata.rdb ] || [ ! -f "/$fields/RMelevation.rda" ] ||
    [ ! -f "/$fields/PRISMelevation.rda" ]; then
    TERRAIN_R_ROOT="$build/rdata"
    if [ ! -f "$TERRAIN_R_ROOT/$fields/RMelevation.rda" ]; then
      mkdir -p "$TERRAIN_R_ROOT"
      (cd "$TERRAIN_R_ROOT" && apt-get download r-base-core r-cran-fields >/dev/null &&
        for deb in r-base-core_*.deb r-cran-fields_*.deb; do dpkg-deb -x "$deb" .; done)
    fi
  fi
}
