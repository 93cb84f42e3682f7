#!/usr/bin/env bash
# Soak: the window under Xvfb against kestrel-sim --rate 1000 --damage 0.05
# for SOAK_SECONDS (600), its data port changed through the port dialog by
# real key presses every SOAK_INTERVAL (20) seconds and the configuration
# file checked after each change. Reports crashes, resident memory at start
# and end, and the error texts the window printed; exits non-zero on a crash,
# a lost key press or port change, a configuration file that does not hold
# the port, or memory growth of SOAK_MAX_GROWTH_KIB (5120) or more.
# With --windows the stream monitor stays open the whole time and every
# SOAK_CHECK_INTERVAL (120) seconds, in place of a port change, a check runs in
# the wizard against kestrel-sim --check (a passing wand and faults in turn):
# each must end with its script's verdict, its report saved and readable and
# its record stored; the memory reading starts after the first such check,
# since that one loads the report writers and the records store.
# Usage: tests/soak/soak.sh [--windows] [build folder, default build]
set -euo pipefail

windows=
if [ "${1:-}" = --windows ]; then
  windows=1
  shift
fi
build=$(cd "${1:-build}" && pwd)
app=$build/app/skywandtester
sim=$build/tools/kestrel-sim
duration=${SOAK_SECONDS:-600}
interval=${SOAK_INTERVAL:-20}
max_growth_kib=${SOAK_MAX_GROWTH_KIB:-5120}
check_interval=${SOAK_CHECK_INTERVAL:-120}
for tool in Xvfb xdotool python3; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done
[ -x "$app" ] && [ -x "$sim" ] || { echo "FAIL: build $app and $sim first"; exit 1; }
check_tool=$build/tools/kestrel-check
[ -z "$windows" ] || [ -x "$check_tool" ] || { echo "FAIL: build $check_tool first"; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${SOAK_KEEP:-}" ] && echo "logs kept in $work" || rm -rf "$work"
}
trap cleanup EXIT
failures=()
fail_now() { echo "FAIL: $*"; exit 1; }
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null || echo 0; }
# The port text is the configuration file up to its first line end; a filed
# check adds its operator and wand id on the lines after it.
port_text() { head -c 4096 "$work/skywandtester.config" | head -n1 | tr -d '\n'; }
holds_port() { [ "$(port_text)" = "$1" ]; }

# The configuration file lives beside the executable: the window runs from a
# copy in a scratch folder and never touches the build's file.
cp "$app" "$work/skywandtester"
[ -d "$build/app/doc" ] && cp -r "$build/app/doc" "$work/doc"
# Reports and check records go under a scratch home, never the user's.
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config
mkdir -p "$HOME"
reports=$XDG_DATA_HOME/skywandtester/reports
base=$((20000 + RANDOM % 20000))
ports=("$base" "$((base + 1))")
printf '%s' "${ports[0]}" >"$work/skywandtester.config"

# One simulator per port, so that whichever port the window holds gets
# hostile traffic at once.
sim_pids=()
start_sim() {
  "$sim" --port "${ports[$1]}" --rate 1000 --damage 0.05 --seed $(($1 + 1)) --quiet \
    2>>"$work/sim$1.log" &
  sim_pids[$1]=$!
  pids+=($!)
}
for i in 0 1; do start_sim "$i"; done

. "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "$work" || fail_now "Xvfb did not start"
pids+=("$XVFB_PID")
export QT_QPA_PLATFORM=xcb

"$work/skywandtester" 2>"$work/window.log" &
app_pid=$!
pids+=($app_pid)
wid=$(timeout 10 xdotool search --sync --onlyvisible --name '^Skywandtester$' | head -n1) || fail_now "no window"

current=0
checks=0
checks_ok=0
# The wand scripts in turn, each with the verdict it must get.
scripts=(pass:pass stuck:3:fail pass:pass square:fail dead:2:fail chatter:4:fail)

# One check in the wizard on the port the window holds: that port's damaged
# traffic stops so that the wand under check is its only sender, the wizard
# is filled in and started by key presses, the wand plays its script, and the
# result is saved with Alt+S and the wizard closed with Esc.
run_check() {
  local entry=${scripts[$((checks % ${#scripts[@]}))]}
  local script=${entry%:*} expected=${entry##*:}
  local wand_id=SOAK-$((checks + 1))
  checks=$((checks + 1))
  local problem=
  # Stopped, not paused: a paused child of a script run in the background
  # can be hung up by the kernel.
  kill -INT "${sim_pids[$current]}" 2>/dev/null || true
  wait "${sim_pids[$current]}" 2>/dev/null || true
  sleep 1.5 # what the stopped sender had on its way is read
  xdotool windowfocus --sync "$wid"
  xdotool key ctrl+k
  local wizard
  if wizard=$(timeout 10 xdotool search --sync --onlyvisible --name '^Check Skywand' | head -n1); then
    xdotool windowfocus --sync "$wizard"
    xdotool key ctrl+a
    xdotool type "$wand_id"
    xdotool key Tab ctrl+a
    xdotool type soak
    xdotool key alt+s
    sleep 0.5
    "$sim" --port "${ports[$current]}" --check "$script" --rate 60 --quiet 2>>"$work/check-sim.log" || problem="kestrel-sim --check $script failed"
    sleep 2 # the last step's judging
    xdotool windowfocus --sync "$wizard"
    xdotool key alt+s
    local report=
    for _ in $(seq 100); do
      report=$(ls "$reports/$wand_id"-*.json 2>/dev/null | head -n1 || true)
      [ -n "$report" ] && break
      sleep 0.1
    done
    sleep 0.5
    xdotool key Escape
    if [ -z "$report" ]; then
      problem=${problem:-no report saved}
    else
      local verdict
      verdict=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["verdict"])' "$report" 2>&1) || verdict="unreadable: $verdict"
      [ "$verdict" = "$expected" ] || problem="verdict $verdict, not $expected"
      [ -f "${report%.json}.html" ] || problem=${problem:-no HTML report}
    fi
    for _ in $(seq 50); do
      xdotool search --onlyvisible --name '^Check' >/dev/null 2>&1 || break
      sleep 0.1
    done
    xdotool search --onlyvisible --name '^Check' >/dev/null 2>&1 && problem=${problem:-the wizard did not close}
  else
    problem="Ctrl+K opened no wizard"
  fi
  start_sim "$current"
  if [ -n "$problem" ]; then
    failures+=("check $checks ($wand_id, $script): $problem")
  else
    checks_ok=$((checks_ok + 1))
  fi
  echo "soak: $((SECONDS - ${start:-$SECONDS})) s: check $wand_id ($script) ${problem:-$expected, saved}, RSS $(rss_kib "$app_pid") KiB"
}

sleep 5 # let the receiver and the allocator settle before the first reading
if [ -n "$windows" ]; then
  xdotool windowfocus --sync "$wid"
  xdotool key ctrl+m
  timeout 10 xdotool search --sync --onlyvisible --name '^Stream monitor$' >/dev/null || fail_now "Ctrl+M opened no stream monitor"
  echo "soak: stream monitor open, RSS before the first check $(rss_kib "$app_pid") KiB"
  run_check
  sleep 5
fi
rss_start=$(rss_kib "$app_pid")
start=$SECONDS
last_check=$SECONDS
changes=0
echo "soak: ${duration} s, port change every ${interval} s${windows:+, a check every $check_interval s}, ports ${ports[*]}, window pid $app_pid, RSS ${rss_start} KiB"

while [ $((SECONDS - start)) -lt "$duration" ]; do
  next_change=$((SECONDS + interval))
  while [ $SECONDS -lt "$next_change" ] && [ $((SECONDS - start)) -lt "$duration" ]; do
    kill -0 "$app_pid" 2>/dev/null || break 2
    sleep 1
  done
  kill -0 "$app_pid" 2>/dev/null || break
  [ $((SECONDS - start)) -lt "$duration" ] || break
  if [ -n "$windows" ] && [ $((SECONDS - last_check)) -ge "$check_interval" ]; then
    run_check
    last_check=$SECONDS
    continue
  fi

  current=$((1 - current))
  port=${ports[$current]}
  xdotool windowfocus --sync "$wid"
  xdotool key F2
  if ! dlg=$(timeout 10 xdotool search --sync --onlyvisible --name '^Port Settings$' | head -n1); then
    failures+=("change $((changes + 1)): F2 opened no port dialog")
    current=$((1 - current))
    continue
  fi
  xdotool windowfocus --sync "$dlg"
  xdotool key ctrl+a
  xdotool type "$port"
  xdotool key Return
  ok=
  for _ in $(seq 100); do
    if holds_port "$port"; then ok=1; break; fi
    sleep 0.1
  done
  changes=$((changes + 1))
  if [ -z "$ok" ]; then
    failures+=("change $changes: the configuration file holds '$(head -c 200 "$work/skywandtester.config" | tr -c '[:print:]' '?')', not $port")
  fi
  echo "soak: $((SECONDS - start)) s: port $port $([ -n "$ok" ] && echo saved || echo NOT SAVED), RSS $(rss_kib "$app_pid") KiB"
done

crashed=
if kill -0 "$app_pid" 2>/dev/null; then
  rss_end=$(rss_kib "$app_pid")
  xdotool windowfocus --sync "$wid"
  xdotool key q
  for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$app_pid" 2>/dev/null; then
    failures+=("Q did not quit the window")
    kill "$app_pid"
  fi
  status=0
  wait "$app_pid" || status=$?
  [ "$status" -eq 0 ] || failures+=("the window exited with status $status")
else
  rss_end=0
  status=0
  wait "$app_pid" || status=$?
  crashed="the window died after $((SECONDS - start)) s with status $status"
  failures+=("$crashed")
fi
if ! holds_port "${ports[$current]}"; then
  failures+=("after quitting the configuration file does not hold ${ports[$current]}")
fi

# The simulators print what they sent when they stop.
for pid in "${sim_pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done

growth=$((rss_end - rss_start))
if [ -z "$crashed" ] && [ "$growth" -ge "$max_growth_kib" ]; then
  failures+=("resident memory grew by $growth KiB")
fi

echo
echo "== soak report"
echo "duration:        $((SECONDS - start)) s, $changes port changes through the dialog"
echo "crashes:         ${crashed:-none}"
if [ -n "$windows" ]; then
  stored=$("$check_tool" history 2>&1 | grep -c ' SOAK-' || true)
  [ "$stored" -eq "$checks" ] || failures+=("the check records hold $stored soak checks, not $checks")
  echo "checks:          $checks in the wizard with the stream monitor open, $checks_ok with the expected verdict and saved, $stored in the check records"
fi
echo "resident memory: start ${rss_start} KiB, end ${rss_end} KiB, growth ${growth} KiB"
echo "simulators (each restarted after a check on its port):"
for log in "$work/sim0.log" "$work/sim1.log"; do
  awk '/ sent [0-9]+ datagram/ { runs++; sent += $3; for (i = 1; i < NF; i++) if ($(i + 1) == "damaged") damaged += $i }
    END { printf "  %d run%s, %d datagrams sent, %d damaged\n", runs, runs == 1 ? "" : "s", sent, damaged }' "$log"
done
echo "error texts seen on the window's output (count, text):"
sort "$work/window.log" | uniq -c | sort -rn | head -n 20
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAIL:"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "PASS"
