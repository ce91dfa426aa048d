# Sourced by run.sh and test.sh: installs the Debian packages that are missing.
#
#   ensure_packages <package>...
#
# Looks the packages up with dpkg-query and calls apt-get only when one is
# missing; that needs root (or sudo). apt-get installs with --no-remove, so
# that it never removes a package to make room for another, and waits up to
# two minutes for a dpkg lock another apt holds. When the packages cannot be
# installed (not root and no sudo, the lock still held, apt-get failing), it
# says which are missing and returns 1. Without dpkg-query (not Debian) it
# cannot tell, says so and returns 0: the build then shows what is missing.

ensure_packages() {
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "dpkg-query not found: not checking for the packages $*" >&2
    return 0
  fi
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "Missing packages: ${missing[*]}; installing them needs root (or sudo):" \
        "apt-get install ${missing[*]}" >&2
      return 1
    fi
  fi
  echo "Installing missing packages with apt-get: ${missing[*]}"
  local apt=($sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=120)
  # A failed update (no network, a list that cannot be fetched) leaves the
  # lists as they were; the install may still find the packages there.
  "${apt[@]}" update -qq </dev/null || true
  if ! "${apt[@]}" install -y -qq --no-install-recommends --no-remove "${missing[@]}" </dev/null
  then
    echo "Missing packages: ${missing[*]}; apt-get could not install them (see above)" >&2
    return 1
  fi
}

# What building the programs and the Python package needs (python3-vtk9, which
# libvtk9-dev pulls in anyway, gives Debian's /usr/bin/python3 its vtk module;
# libgdal-dev is for surface_fill's rasters).
BUILD_PACKAGES=(cmake make g++ libvtk9-dev python3-vtk9 libgdal-dev)

# What the Python package's raster fill on a Dask cluster (surface_repair.fill)
# needs when it runs.
DASK_FILL_PACKAGES=(python3-numpy python3-scipy python3-gdal python3-dask python3-distributed)
