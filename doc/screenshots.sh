#!/usr/bin/env bash
# Regenerates the manual's pictures from the program itself: starts Xvfb on a
# free display, runs the window from a scratch copy (its configuration file
# lives beside the executable, so the build's own file is never touched), feeds
# it with kestrel-sim, drives it with key presses and captures each window with
# ImageMagick's import.
#
#   doc/screenshots.sh [--scale N] [--out DIR] [build folder, default build]
#
# Without options it rewrites doc/images/*.png at QT_SCALE_FACTOR=1, the file
# names the pages use. With --scale 2 it writes the same set at twice the size
# into DIR (default BUILD/screenshots-2x), and adds main-min.png, wizard-min.png
# and monitor-min.png: those windows at their minimum sizes. It takes about two
# minutes: two checks of a simulated wand run in real time. Needs Xvfb, xdotool,
# xprop and imagemagick (scripts/bootstrap installs them), and the window and the
# tools built (cmake --build build --target skywandtester kestrel-sim
# kestrel-dump kestrel-check). SHOTS_KEEP=1 keeps the scratch folder and its
# logs. Exits non-zero when a window did not appear or a picture was not taken.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
scale=1
out=
build=
while [ $# -gt 0 ]; do
  case $1 in
    --scale) scale=${2:?--scale needs a number}; shift 2 ;;
    --out) out=${2:?--out needs a folder}; shift 2 ;;
    -h | --help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "screenshots: unknown option $1" >&2; exit 64 ;;
    *) build=$1; shift ;;
  esac
done
case $scale in
  [1-4]) ;;
  *) echo "screenshots: --scale takes 1 to 4" >&2; exit 64 ;;
esac
build=$(cd "${build:-$top/build}" && pwd)
if [ -z "$out" ]; then
  [ "$scale" = 1 ] && out=$top/doc/images || out=$build/screenshots-${scale}x
fi
mkdir -p "$out"
out=$(cd "$out" && pwd)

app=$build/app/skywandtester
sim=$build/tools/kestrel-sim
dump=$build/tools/kestrel-dump
check=$build/tools/kestrel-check
for tool in Xvfb xdotool import convert xprop; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/bootstrap installs it)" >&2; exit 1; }
done
for exe in "$app" "$sim" "$dump" "$check"; do
  [ -x "$exe" ] || { echo "screenshots: build $exe first" >&2; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ -n "${SHOTS_KEEP:-}" ]; then echo "screenshots: scratch folder kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
fail() {
  echo "screenshots: FAIL: $*" >&2
  exit 1
}
say() { echo "screenshots: $*"; }

# Everything the window and the tools write goes into the scratch folder: the
# check records, the reports, Qt's settings.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
export XDG_RUNTIME_DIR=$work/runtime LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
mkdir -p "$work/app"
cp "$app" "$work/app/skywandtester"
[ -d "$build/app/doc" ] && cp -r "$build/app/doc" "$work/app/doc"

base=$((20000 + RANDOM % 20000))
port=$base       # the window's data port
cli_port=$((base + 1)) # the headless check that gives the wizard a previous check
held_port=$((base + 2)) # held by kestrel-dump for the diagnosis

# A screen large enough to put every window beside the others, so that no
# capture shows a part of another window.
# shellcheck source=SCRIPTDIR/../scripts/xvfb.sh
. "$top/scripts/xvfb.sh"
screen_w=$((2000 * scale)) screen_h=$((1400 * scale))
start_xvfb "$work" "${screen_w}x${screen_h}x24" || fail "Xvfb did not start (see $work/xvfb.log)"
pids+=("$XVFB_PID")
export QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale
unset QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR QT_ENABLE_HIGHDPI_SCALING

# wait_window TITLE: the id of the visible window of that exact title.
wait_window() {
  timeout 15 xdotool search --sync --onlyvisible --name "^$1\$" | head -n1 || true
}
# shot WINDOW NAME: raises the window, lets it repaint, writes NAME.png. A
# window that grew past the screen's edge is moved to its corner first, since
# a capture holds only what is on the screen.
shot() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  : "$SCREEN" "$WINDOW" # set by the line above, not needed
  if [ "$WIDTH" -gt "$screen_w" ] || [ "$HEIGHT" -gt "$screen_h" ]; then
    fail "$2: the window is larger than the screen"
  fi
  if [ $((X + WIDTH)) -gt "$screen_w" ] || [ $((Y + HEIGHT)) -gt "$screen_h" ]; then
    timeout 5 xdotool windowmove "$1" 0 0 || true
  fi
  xdotool windowraise "$1"
  sleep 0.3 # the timed pictures below allow for this pause
  import -window "$1" "$out/$2.png" || fail "no picture of $2"
  say "$out/$2.png"
}
# grab FILE: the main window's picture as it is on the screen.
grab() { import -window "$wid" "$1" || fail "no picture of the window for $1"; }
# crop_panel NAME [PICTURE]: cuts the Skywand panel, the largest white area,
# out of a picture of the main window (taken now when none is given).
crop_panel() {
  local whole=${2:-$work/whole.png} box
  [ -n "${2:-}" ] || grab "$whole"
  box=$(convert "$whole" -fill black +opaque white \
    -define connected-components:verbose=true -connected-components 4 null: |
    awk '/(gray|srgb)\(255(,255,255)?\)/ { split($2, g, /[x+]/); if (g[1] * g[2] > best) { best = g[1] * g[2]; box = $2 } }
         END { print box }')
  [ -n "$box" ] || fail "no panel found in the window for $1"
  convert "$whole" -crop "$box" +repage "$out/$1.png"
  say "$out/$1.png"
}
# key WINDOW KEY...: presses keys in the window after giving it the focus.
key() {
  local w=$1
  shift
  timeout 5 xdotool windowfocus --sync "$w" || fail "window $w did not take the focus"
  xdotool key --delay 80 "$@"
}
# place WINDOW X: moves a window to column X (unscaled pixels) of the screen.
place() { timeout 5 xdotool windowmove "$1" $(($2 * scale)) 0 || true; }
sim_pid=
start_sim() {
  "$sim" --port "$port" --quiet "$@" 2>>"$work/sim.log" &
  sim_pid=$!
  pids+=("$sim_pid")
  sim_started=$(date +%s.%N)
}
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill -INT "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
sim_time() { awk -v s="$sim_started" -v now="$(date +%s.%N)" 'BEGIN { printf "%.3f", now - s }'; }
# at_sim_time SECONDS: sleeps until the simulator has run that long. Its
# buttons and joystick follow the time since its start, and so does the
# check's script; a picture that came late says so.
at_sim_time() {
  sleep "$(awk -v t="$1" -v now="$(sim_time)" 'BEGIN { d = t - now; printf "%.3f", (d > 0 ? d : 0) }')"
}
warn_if_late() {
  awk -v now="$(sim_time)" -v t="$2" 'BEGIN { exit !(now > t) }' &&
    echo "screenshots: $1 was taken late, at $(sim_time) s of the simulator, not before $2 s: look at it" >&2
  return 0
}
# in_phase FROM TO COMMAND...: runs COMMAND while the simulator's 3 s button
# cycle (F1 holds each of its six buttons for 0.5 s) stays between FROM and TO
# all along, waiting for that moment; a busy machine that made it late gets
# another try in the next cycle, five in all.
in_phase() {
  local from=$1 to=$2 try start end
  shift 2
  for try in 1 2 3 4 5; do
    sleep "$(awk -v t="$(sim_time)" -v f="$from" 'BEGIN { d = f - (t - 3 * int(t / 3)); printf "%.3f", (d < 0 ? d + 3 : d) }')"
    start=$(sim_time)
    "$@"
    end=$(sim_time)
    awk -v a="$start" -v b="$end" -v f="$from" -v t="$to" \
      'BEGIN { c = a - 3 * int(a / 3); exit !(c >= f - 0.03 && c + b - a <= t) }' && return 0
    say "try $try of $*: late, once more"
  done
  fail "$* came late five times: the machine is too busy"
}
# min_size WINDOW NAME: shrinks the window to the minimum size it announces.
min_size() {
  local hint w h
  hint=$(xprop -id "$1" WM_NORMAL_HINTS | sed -n 's/.*minimum size: \([0-9]*\) by \([0-9]*\).*/\1 \2/p')
  read -r w h <<<"${hint:-1 1}"
  timeout 5 xdotool windowsize "$1" "$w" "$h" || true
  sleep 0.5
  shot "$1" "$2"
}

# A passed check of the wand on record, so that the wizard's result page
# compares with it. It runs in the background while the first pictures are taken.
"$check" --port "$cli_port" --wand-id SW-0042 --operator "Technician 7" --out "$work/cli-reports" \
  >"$work/cli-check.log" 2>&1 &
cli_check=$!
pids+=("$cli_check")
sleep 1
"$sim" --check pass --port "$cli_port" --quiet 2>>"$work/sim.log" &
pids+=($!)

# The overview names three of the six wands.
printf '%s\nwand-id=1:W-0101\nwand-id=2:W-0102\nwand-id=4:W-0117\n' "$port" >"$work/app/skywandtester.config"
"$work/app/skywandtester" 2>"$work/window.log" &
app_pid=$!
pids+=("$app_pid")
wid=$(wait_window Skywandtester)
[ -n "$wid" ] || fail "the window did not appear (see $work/window.log)"
place "$wid" 0
sleep 1.5

say "the panel before the first frame"
crop_panel panel-idle

say "the window fed by two simulated Skywands"
start_sim --skywands 2
# Button 2 held, from 0.5 s to 1 s of the cycle, after the first cycle, when
# the joystick is about three quarters out; the window repaints within 0.1 s.
at_sim_time 3
in_phase 0.6 1.0 grab "$work/active.png"
crop_panel panel-active "$work/active.png"
in_phase 0.1 0.5 grab "$out/window.png" # button 1
say "$out/window.png"

say "a Skywand the frames do not hold"
key "$wid" Down # the selector has the focus: F2
stop_sim
start_sim --skywands 1
sleep 2
crop_panel panel-not-tracked
key "$wid" Up

say "the port dialog"
key "$wid" F2
dlg=$(wait_window "Port Settings")
[ -n "$dlg" ] || fail "F2 opened no port dialog"
shot "$dlg" port-dialog
key "$dlg" Escape

say "the stream monitor and the overview at 1000 frames a second"
stop_sim
start_sim --skywands 6 --rate 1000
key "$wid" ctrl+m
mon=$(wait_window "Stream monitor")
[ -n "$mon" ] || fail "Ctrl+M opened no stream monitor"
place "$mon" 400
key "$wid" ctrl+b
overview=$(wait_window "All Skywands")
[ -n "$overview" ] || fail "Ctrl+B opened no overview"
timeout 5 xdotool windowmove "$overview" 0 $((700 * scale)) || true
sleep 12 # the charts fill with twelve seconds of the stream
shot "$mon" stream-monitor
shot "$overview" overview

say "the check wizard (about 25 s)"
stop_sim
wait "$cli_check" || fail "the headless check of the previous wand failed (see $work/cli-check.log)"
sleep 1.5 # the last frames have passed, so the check starts with the scripted wand
key "$wid" ctrl+k
wiz=$(wait_window "Check Skywand F1")
[ -n "$wiz" ] || fail "Ctrl+K opened no check wizard"
place "$wiz" 1140
timeout 5 xdotool windowfocus --sync "$wiz" || fail "the wizard did not take the focus"
xdotool type --delay 40 SW-0042
xdotool key Tab
xdotool type --delay 40 "Technician 7"
shot "$wiz" check-start
key "$wiz" Return
sleep 0.5
start_sim --check ellipse:0.8
at_sim_time 1.9 # the prompt for button 3, before it is pressed at 2.5 s
shot "$wiz" check-buttons
warn_if_late check-buttons 2.5
at_sim_time 11.05 # two thirds round the first turn, which ends at 12.6 s
shot "$wiz" check-circle
warn_if_late check-circle 12.6
at_sim_time 25
key "$wiz" alt+s # save the report, which also files the check
sleep 1
shot "$wiz" check-result
stop_sim

if [ "$scale" != 1 ]; then
  say "the windows at their minimum sizes"
  min_size "$wid" main-min
  min_size "$wiz" wizard-min
  min_size "$mon" monitor-min
fi
kill "$app_pid" 2>/dev/null || true
wait "$app_pid" 2>/dev/null || true

say "the diagnosis of a port another program holds"
"$dump" --port "$held_port" --summary >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
printf '%s' "$held_port" >"$work/app/skywandtester.config"
"$work/app/skywandtester" 2>"$work/window2.log" &
app_pid=$!
pids+=("$app_pid")
wid=$(wait_window Skywandtester)
[ -n "$wid" ] || fail "the window did not appear a second time (see $work/window2.log)"
sleep 1 # the window finds the port held and waits for it
key "$wid" ctrl+m
mon=$(wait_window "Stream monitor")
[ -n "$mon" ] || fail "Ctrl+M opened no stream monitor"
place "$mon" 400
# The monitor's focus starts on its Skywand selector; Diagnose is two tabs on.
key "$mon" Tab Tab space
sleep 5 # the diagnosis listens for 2.5 s
shot "$mon" stream-monitor-diagnosis
say "done: $out"
