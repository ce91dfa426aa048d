#!/usr/bin/env bash
# Runs surface_repair on the bundled sample with a virtual X display and checks
# the viewer: one 1020 x 510 window named surface_repair, white background,
# the source model drawn on the left and the result on the right, closed by
# the q key, after which the program ends normally.
#
#   viewer_test.sh <surface_repair> <sample dir> [screenshot.png]
#
# Needs xvfb-run, xdotool and ImageMagick (import, convert).
set -euo pipefail

program="$(realpath "$1")"
sample="$(realpath "$2")"
keep_shot="${3:+$(realpath -m "$3")}"

if [ -z "${VIEWER_TEST_INNER:-}" ]; then
  export VIEWER_TEST_INNER=1
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$@"
fi

work="$(mktemp -d)"
pid=""
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  echo "--- standard output ---" >&2
  cat "$work/out.txt" >&2 || true
  echo "--- standard error ---" >&2
  cat "$work/err.txt" >&2 || true
  exit 1
}

cd "$work"
"$program" "$sample/model.vtk" "$sample/inside.pts" "$sample/outside.pts" 0.12 \
  >"$work/out.txt" 2>"$work/err.txt" </dev/null &
pid=$!

# The window appears after the result is written. Polling starts only then
# and stays gentle: every X client that connects competes with the program's
# own connection.
for _ in $(seq 1 240); do
  grep -q "^Transform time: " "$work/out.txt" && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended before the transform"
  sleep 0.25
done
wid=""
for _ in $(seq 1 120); do
  wid="$(xdotool search --name '^surface_repair: ' 2>/dev/null | head -n 1 || true)"
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended without showing the window"
  sleep 0.5
done
[ -n "$wid" ] || fail "no window named surface_repair appeared"
[ -f "$work/reconstucted_shape.vtk" ] || fail "the result was not written before the window opened"

# Let the first frame reach the screen.
sleep 1.5
geometry="$(xdotool getwindowgeometry "$wid" | sed -n 's/^ *Geometry: //p')"
[ "$geometry" = "1020x510" ] || fail "window geometry is '$geometry', not 1020x510"

import -window "$wid" "$work/shot.png"
if [ -n "$keep_shot" ]; then
  cp "$work/shot.png" "$keep_shot"
fi

# The corners are background: white.
for corner in "3,3" "1016,3" "3,506" "1016,506"; do
  colour="$(convert "$work/shot.png" -format "%[fx:int(255*p{$corner}.r)],%[fx:int(255*p{$corner}.g)],%[fx:int(255*p{$corner}.b)]" info:)"
  [ "$colour" = "255,255,255" ] || fail "background at $corner is $colour, not white"
done
# Each half shows a model: a fair part of its pixels is not white.
for half in "510x510+0+0" "510x510+510+0"; do
  drawn="$(convert "$work/shot.png" -crop "$half" +repage -colorspace gray -threshold 99% -format "%[fx:1-mean]" info:)"
  awk -v f="$drawn" 'BEGIN { exit !(f > 0.05) }' || fail "the half $half is nearly empty (drawn fraction $drawn)"
done

# q closes the window; the first key can arrive before the interactor listens.
for _ in $(seq 1 20); do
  kill -0 "$pid" 2>/dev/null || break
  xdotool key --window "$wid" q 2>/dev/null || true
  sleep 0.5
done
if kill -0 "$pid" 2>/dev/null; then
  fail "q did not close the window"
fi
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$(tail -n 1 "$work/out.txt")" = "Thank you for using our application" ] \
  || fail "the closing line is not the last line"
if grep -q "No display available" "$work/err.txt"; then
  fail "the program did not find the display"
fi
echo "viewer: window $geometry, both halves drawn, closed with q, exit status 0"
