#!/usr/bin/env bash
# The real window under Xvfb, fed by kestrel-sim at each rate for a while:
# CPU of the process, resident memory at start and end, panel updates per
# second (changes of the "X = " text: at most one per paint, fewer while the
# joystick moves slowly), and the time from a key press (Down on the Skywand
# selector, with two Skywands in the data) until the status text names F2.
# Usage: bench/window.sh <build folder> [seconds per rate] [rates...]
# With SKYWAND_BENCH_MONITOR=1 the stream monitor is open beside the window
# (View, Stream monitor: Ctrl+M) while it is measured, and its rates, gaps and
# missed frames at the end are printed; with
# SKYWAND_BENCH_WIZARD=1 the check wizard (Tools, Check Skywand...: Ctrl+K)
# runs a check of F1 beside it; with SKYWAND_BENCH_OVERVIEW=1 the overview
# (View, All Skywands: Ctrl+B) is open beside it. SKYWAND_BENCH_SKYWANDS sets
# how many Skywands each frame carries (2 unless set).
set -euo pipefail

build=${1:?usage: window.sh <build folder> [seconds] [rates...]}
seconds=${2:-30}
shift $(( $# >= 2 ? 2 : 1 ))
rates=("$@")
[ ${#rates[@]} -gt 0 ] || rates=(1000 20000)

app=$build/app/skywandtester
sim=$build/tools/kestrel-sim
probe=$build/bench/libwindowprobe.so
for f in "$app" "$sim" "$probe"; do [ -e "$f" ] || { echo "missing $f"; exit 1; }; done
for tool in Xvfb xdotool; do command -v "$tool" >/dev/null || { echo "missing $tool"; exit 1; }; done

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../scripts/xvfb.sh"
start_xvfb "$work" || { echo "Xvfb did not start"; exit 1; }
pids+=("$XVFB_PID")
export QT_QPA_PLATFORM=xcb

ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }
now_ns() { date +%s%N; }

for rate in "${rates[@]}"; do
  # A copy of its own beside its own configuration file on a port of its own.
  cp "$app" "$work/skywandtester"
  port=$((20000 + RANDOM % 20000))
  printf '%s' "$port" >"$work/skywandtester.config"
  log=$work/probe-$rate.log

  "$sim" --port "$port" --rate "$rate" --skywands "${SKYWAND_BENCH_SKYWANDS:-2}" --duration $((seconds + 8)) --quiet >"$work/sim-$rate.log" 2>&1 &
  sim_pid=$!
  pids+=($sim_pid)
  LD_PRELOAD=$probe SKYWAND_PROBE_LOG=$log SKYWAND_PROBE_MARK="Skywand ID: F2" \
    "$work/skywandtester" >/dev/null 2>&1 &
  app_pid=$!
  pids+=($app_pid)
  wid=$(timeout 10 xdotool search --sync --onlyvisible --name '^Skywandtester$' | head -n1)
  xdotool windowfocus --sync "$wid"
  if [ "${SKYWAND_BENCH_MONITOR:-0}" = 1 ]; then
    xdotool key ctrl+m
    timeout 10 xdotool search --sync --onlyvisible --name '^Stream monitor$' >/dev/null
    xdotool windowfocus --sync "$wid"
  fi
  if [ "${SKYWAND_BENCH_OVERVIEW:-0}" = 1 ]; then
    xdotool key ctrl+b
    timeout 10 xdotool search --sync --onlyvisible --name '^All Skywands$' >/dev/null
    xdotool windowfocus --sync "$wid"
  fi
  if [ "${SKYWAND_BENCH_WIZARD:-0}" = 1 ]; then
    xdotool key ctrl+k
    wiz=$(timeout 10 xdotool search --sync --onlyvisible --name '^Check Skywand' | head -n1)
    xdotool windowfocus --sync "$wiz"
    xdotool type BENCH
    xdotool key Return
    xdotool windowfocus --sync "$wid"
  fi
  sleep 2 # the selector is filled and the stream is steady

  rss_start=$(rss_kib "$app_pid")
  cpu_start=$(cpu_ticks "$app_pid")
  t_start=$(now_ns)
  sleep $((seconds / 2))
  t_press=$(now_ns)
  xdotool key Down
  sleep $((seconds - seconds / 2))
  t_end=$(now_ns)
  cpu_end=$(cpu_ticks "$app_pid")
  rss_end=$(rss_kib "$app_pid")

  kill "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true

  awk -v rate="$rate" -v monitor="${SKYWAND_BENCH_MONITOR:-0}" -v t0="$t_start" -v t1="$t_end" -v tp="$t_press" \
      -v c0="$cpu_start" -v c1="$cpu_end" -v hz="$ticks" -v r0="$rss_start" -v r1="$rss_end" '
    $1 == "updates" && $2 >= t0 && first == "" { first = $3; ft = $2 }
    $1 == "updates" && $2 <= t1 { last = $3; lt = $2 }
    $1 == "mark" && $2 >= tp && mark == "" { mark = $2 }
    END {
      secs = (t1 - t0) / 1e9
      ups = (lt > ft) ? (last - first) / ((lt - ft) / 1e9) : 0
      key = (mark != "") ? sprintf("%.1f ms", (mark - tp) / 1e6) : "no effect seen"
      printf "window rate %-6s cpu %5.1f%% of one core  rss start %6.1f MiB end %6.1f MiB growth %+5.2f MiB  updates/s %7.0f  key press to effect %s\n",
             rate, 100 * (c1 - c0) / hz / secs, r0 / 1024, r1 / 1024, (r1 - r0) / 1024, ups, key
    }' "$log"
  if [ "${SKYWAND_BENCH_MONITOR:-0}" = 1 ]; then
    # The monitor's table as it stood at the end of the measurement.
    awk -v t1="$t_end" '$1 == "monitor" && $2 <= t1 { line = $0 }
      END { sub(/^monitor [0-9]+ /, "", line); n = split(line, rows, ";")
            for (i = 1; i <= n; ++i)
              if (rows[i] ~ /^(Datagrams\/s|Frames\/s|Gaps|Missed frames|Repeated)/) printf "  monitor %s\n", rows[i] }' "$log"
  fi
  tail -n 1 "$work/sim-$rate.log" | sed "s/^/  /"
done
