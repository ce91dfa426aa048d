#!/usr/bin/env bash
# ensure_packages (scripts/deps.sh) with dpkg-query, id, sudo and apt-get
# replaced by stubs: apt-get runs only when a package is missing, installs with
# --no-remove and never removes; when nothing is missing it goes on without
# root; when something is missing and cannot be installed it names what is
# missing and fails.
#
#   deps_test.sh <path of deps.sh>
set -uo pipefail
deps="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Stubs in $work/bin: dpkg-query knows the packages listed in $work/installed;
# id -u prints $FAKE_UID; apt-get logs its arguments and exits $FAKE_APT.
mkdir -p "$work/bin"
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/bash
package="${@: -1}"
grep -qx "$package" "$WORK/installed" && printf 'install ok installed' && exit 0
exit 1
EOF
cat >"$work/bin/id" <<'EOF'
#!/bin/bash
echo "$FAKE_UID"
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/bash
echo "apt-get $*" >>"$WORK/apt.log"
exit "$FAKE_APT"
EOF
cat >"$work/bin/sudo" <<'EOF'
#!/bin/bash
echo "sudo" >>"$WORK/apt.log"
exec "$@"
EOF
chmod +x "$work/bin/"*
# Only the stubs and these tools are on PATH: never the real apt-get or sudo.
for tool in grep env; do ln -s "$(command -v "$tool")" "$work/bin/$tool"; done
printf 'cmake\ng++\n' >"$work/installed"

# Runs ensure_packages in a shell whose PATH holds the stubs (and, with
# sudo=no, no sudo), as set -e callers do; its status, output and the apt-get
# log land in $status, $out and $work/apt.log.
run() { # <uid> <apt status> <sudo: yes|no> <package>...
  local uid="$1" apt="$2" withSudo="$3"
  shift 3
  rm -f "$work/apt.log"
  touch "$work/apt.log"
  local path="$work/bin"
  if [ "$withSudo" = no ]; then
    path="$work/nosudo"
    mkdir -p "$path"
    for tool in dpkg-query id apt-get grep env; do ln -sf "$work/bin/$tool" "$path/$tool"; done
  fi
  out="$(WORK="$work" FAKE_UID="$uid" FAKE_APT="$apt" PATH="$path" \
    "$BASH" -c 'set -euo pipefail; source "$1"; shift; ensure_packages "$@"; echo REACHED' \
    _ "$deps" "$@" 2>&1)"
  status=$?
}

# Nothing missing: no apt-get, not even without root, sudo or a working apt.
run 1000 100 no cmake g++
[ "$status" -eq 0 ] || fail "nothing missing, not root: status $status: $out"
[[ "$out" == *REACHED* ]] || fail "nothing missing: the caller did not go on: $out"
[ -s "$work/apt.log" ] && fail "nothing missing: apt-get was called: $(cat "$work/apt.log")"

# Missing, as root: update, then install with --no-remove of just the missing one.
run 0 0 no cmake libvtk9-dev g++
[ "$status" -eq 0 ] || fail "missing, root: status $status: $out"
grep -q -- "install .*--no-remove.* libvtk9-dev$" "$work/apt.log" ||
  fail "missing, root: no install --no-remove of libvtk9-dev: $(cat "$work/apt.log")"
grep -q "remove\b\|purge\|autoremove" <(grep -v -- "--no-remove" "$work/apt.log") &&
  fail "apt-get asked to remove: $(cat "$work/apt.log")"
[[ "$out" == *"Installing missing packages with apt-get: libvtk9-dev"* ]] ||
  fail "missing, root: not said what is installed: $out"

# Missing, not root, with sudo: through sudo.
run 1000 0 yes libvtk9-dev
[ "$status" -eq 0 ] || fail "missing, sudo: status $status: $out"
grep -q "^sudo" "$work/apt.log" || fail "missing, sudo: apt-get not run through sudo"

# Missing, not root, no sudo: named, status 1, the caller stops.
run 1000 0 no cmake libvtk9-dev python3-vtk9
[ "$status" -ne 0 ] || fail "missing, no sudo: status 0"
[[ "$out" == *"Missing packages: libvtk9-dev python3-vtk9"* ]] ||
  fail "missing, no sudo: the packages not named: $out"
[[ "$out" == *REACHED* ]] && fail "missing, no sudo: the caller went on"
[ -s "$work/apt.log" ] && fail "missing, no sudo: apt-get was called"

# Missing, root, apt-get failing (a dpkg lock, no network): named, status 1.
run 0 100 no libvtk9-dev
[ "$status" -ne 0 ] || fail "missing, apt fails: status 0"
[[ "$out" == *"Missing packages: libvtk9-dev; apt-get could not install them"* ]] ||
  fail "missing, apt fails: the package not named: $out"
[[ "$out" == *REACHED* ]] && fail "missing, apt fails: the caller went on"

if [ "$failures" -ne 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "ensure_packages: all cases pass"
