# Sourced by run.sh and test.sh: installs the Debian packages that are missing.
#
#   ensure_packages <package>...
#
# Needs root (or sudo) only when something is missing.

ensure_packages() {
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
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then
      sudo="sudo"
    else
      echo "These packages are missing and this is not root: ${missing[*]}" >&2
      return 1
    fi
  fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
}

# What building the program and its Python package needs (python3-vtk9, which
# libvtk9-dev pulls in anyway, gives Debian's /usr/bin/python3 its vtk module).
BUILD_PACKAGES=(cmake make g++ libvtk9-dev python3-vtk9)
