#!/usr/bin/env bash
# Runs surface_repair on the bundled sample with a virtual X display and checks
# the viewer: one 1020 x 510 window titled with the model's name, white
# background, the source model on the left and the result on the right in
# height colours, the two alike but for the repaired region, closed by the q
# key, after which the program ends normally.
#
#   viewer_test.sh <surface_repair> <sample dir> [screenshot.png]
#   viewer_test.sh --no-opengl=glx|indirect <surface_repair> <sample dir>
#
# With --no-opengl the display cannot show the window: the X server runs
# without its OpenGL extension (glx), or OpenGL is forced through the X
# server, which offers only OpenGL 1.4 that way (indirect). The program keeps
# the result, says why it shows no window, and ends normally.
#
# Needs xvfb-run, xdotool and ImageMagick (import, convert).
set -euo pipefail

no_gl=""
case "${1:-}" in
  --no-opengl=glx | --no-opengl=indirect)
    no_gl="${1#--no-opengl=}"
    shift
    ;;
esac
program="$(realpath "$1")"
sample="$(realpath "$2")"
keep_shot="${3:+$(realpath -m "$3")}"

if [ -z "${VIEWER_TEST_INNER:-}" ]; then
  export VIEWER_TEST_INNER=1
  server="-screen 0 1280x1024x24"
  [ "$no_gl" = glx ] && server="$server -extension GLX"
  exec xvfb-run -a -s "$server" bash "$0" ${no_gl:+--no-opengl=$no_gl} "$@"
fi
[ "$no_gl" = indirect ] && export LIBGL_ALWAYS_INDIRECT=1

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

if [ -n "$no_gl" ]; then
  status=0
  timeout 120 tail --pid="$pid" -f /dev/null || fail "the program did not end"
  wait "$pid" || status=$?
  pid=""
  [ "$status" -eq 0 ] || fail "exit status $status"
  [ "$(tail -n 1 "$work/out.txt")" = "Thank you for using our application" ] \
    || fail "the closing line is not the last line"
  grep -q "^No OpenGL on display .*: the viewer is not shown$" "$work/err.txt" \
    || fail "no message that the display lacks OpenGL"
  grep -q "^POLYGONS 19602 " "$work/reconstucted_shape.vtk" 2>/dev/null \
    || fail "the result was not kept"
  echo "viewer: no OpenGL ($no_gl), result kept, the viewer skipped with a message, exit status 0"
  exit 0
fi

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
[ -n "$wid" ] || fail "no window titled surface_repair appeared"
title="$(xdotool getwindowname "$wid")"
[ "$title" = "surface_repair: $sample/model.vtk" ] || fail "the window title is '$title'"
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

# Height colours: a fair part of the window is clearly coloured (HSB saturation
# above 40 of 255).
coloured="$(convert "$work/shot.png" -colorspace HSB -channel G -separate +channel \
  -threshold 15.7% -format "%[fx:mean]" info:)"
awk -v f="$coloured" 'BEGIN { exit !(f >= 0.15) }' || fail "only $coloured of the pixels are coloured"

# The halves see the models through one camera: they differ where the sample
# was repaired (the middle third of its grid) and agree elsewhere. The label
# rows at the top and bottom are left out.
mask='-fill white -draw "rectangle 0,0 509,74" -draw "rectangle 0,470 509,509"'
eval convert "$work/shot.png" -crop 510x510+0+0 +repage "$mask" "$work/left.png"
eval convert "$work/shot.png" -crop 510x510+510+0 +repage "$mask" "$work/right.png"
convert "$work/left.png" "$work/right.png" -compose difference -composite -colorspace gray \
  -threshold 10% "$work/diff.png"
# The middle of the drawn model: 20% to 80% across, 10% to 90% down.
read -r mx0 my0 mx1 my1 < <(convert "$work/left.png" -format "%@" info: |
  awk -F'[x+]' '{ print int($3 + 0.2 * $1), int($4 + 0.1 * $2), int($3 + 0.8 * $1), int($4 + 0.9 * $2) }')
inside="$(convert "$work/diff.png" -crop "$((mx1 - mx0))x$((my1 - my0))+$mx0+$my0" +repage \
  -format "%[fx:mean*w*h]" info:)"
outside="$(convert "$work/diff.png" -fill black -draw "rectangle $mx0,$my0 $mx1,$my1" \
  -format "%[fx:mean*w*h]" info:)"
awk -v n="$inside" -v a="$(((mx1 - mx0) * (my1 - my0)))" 'BEGIN { exit !(n >= 0.01 * a) }' \
  || fail "the halves hardly differ in the repaired region ($inside pixels)"
awk -v n="$outside" 'BEGIN { exit !(n <= 100) }' \
  || fail "the halves differ away from the repaired region ($outside pixels)"

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
echo "viewer: window $geometry, $coloured coloured, halves differ in $inside pixels of the" \
  "repaired region and $outside elsewhere, closed with q, exit status 0"
