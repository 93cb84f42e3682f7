# Sourced by the scripts that show the window on a virtual display.
#
# start_xvfb WORKDIR [SCREEN [XVFB_OPTION...]] starts Xvfb on a free display
# number, waits until it is ready, exports DISPLAY, and sets XVFB_PID so that
# the caller's cleanup can stop it. Returns non-zero when Xvfb did not start
# within ten seconds; its output is then in WORKDIR/xvfb.log.
start_xvfb() {
  local workdir=$1 screen=${2:-800x600x24}
  shift 2 2>/dev/null || shift $#
  # -displayfd lets the server pick a free display and write its number once
  # it accepts clients, so no fixed number can clash with another server.
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp "$@" \
    3>"$workdir/display" 2>"$workdir/xvfb.log" &
  XVFB_PID=$!
  local _
  for _ in $(seq 100); do
    [ -s "$workdir/display" ] && break
    sleep 0.1
  done
  [ -s "$workdir/display" ] || return 1
  export DISPLAY=":$(head -n1 "$workdir/display")"
}
