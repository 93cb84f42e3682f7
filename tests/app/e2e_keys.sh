#!/usr/bin/env bash
# End to end under Xvfb with real key presses: a held button shows red, F2
# opens the port dialog and a new port is taken, Q quits and the
# configuration file holds the port.
# Usage: e2e_keys.sh <skywandtester binary>
set -euo pipefail

app=${1:?usage: e2e_keys.sh <skywandtester binary>}
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# The configuration file lives beside the executable, so the window runs from
# a copy of its own in a scratch folder and never touches the build's file.
cp "$app" "$work/skywandtester"
port=$((20000 + RANDOM % 20000))
newport=$((port + 1))
printf '%s' "$port" >"$work/skywandtester.config"

. "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "$work" || fail "Xvfb did not start"
pids+=("$XVFB_PID")
export QT_QPA_PLATFORM=xcb  # a real X window, whatever the suite sets

"$work/skywandtester" 2>"$work/window.log" &
app_pid=$!
pids+=($app_pid)
wid=$(timeout 10 xdotool search --sync --onlyvisible --name '^Skywandtester$' | head -n1) || fail "no window"
xdotool windowfocus --sync "$wid"

# Frames in which the test holds button 1 (button word 1) or nothing, the
# joystick at rest so the indicator stays black.
frame() { printf 'fr 1\nts 1.000\n6df2 1 1 [0 1.000 6 2][0 0 0][1 0 0 0 1 0 0 0 1][%s 0.000 0.000]\n' "$1"; }
send_for() { # word, target port, seconds
  local end=$((SECONDS + $3))
  while [ $SECONDS -lt "$end" ]; do frame "$1" >"/dev/udp/127.0.0.1/$2"; sleep 0.05; done
}
red_pixels() {
  import -window "$wid" "$work/shot.png"
  convert "$work/shot.png" -fill black +opaque 'rgb(255,0,0)' -fill white -opaque 'rgb(255,0,0)' \
    -format '%[fx:int(mean*w*h)]' info:
}

send_for 1 "$port" 2
held=$(red_pixels)
send_for 0 "$port" 2
released=$(red_pixels)
echo "red pixels with button 1 held: $held, released: $released"
[ "$held" -gt 200 ] || fail "the held button does not show red"
[ "$released" -eq 0 ] || fail "red remains after the button was released"

xdotool key F2
dlg=$(timeout 10 xdotool search --sync --onlyvisible --name '^Port Settings$' | head -n1) || fail "F2 opened no port dialog"
xdotool windowfocus --sync "$dlg"
xdotool key ctrl+a
xdotool type "$newport"
xdotool key Return
for _ in $(seq 50); do [ "$(cat "$work/skywandtester.config")" = "$newport" ] && break; sleep 0.1; done
[ "$(cat "$work/skywandtester.config")" = "$newport" ] || fail "the dialog's port was not saved"

# The window listens on the new port now.
send_for 1 "$newport" 2
[ "$(red_pixels)" -gt 200 ] || fail "no frames shown from the new port"

xdotool windowfocus --sync "$wid"
xdotool key q
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app_pid" 2>/dev/null && fail "Q did not quit"
wait "$app_pid" || fail "the window exited with an error"
[ "$(cat "$work/skywandtester.config")" = "$newport" ] || fail "the configuration does not hold the port"
echo "PASS"
