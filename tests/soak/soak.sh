#!/usr/bin/env bash
# Soak: the window under Xvfb against kestrel-sim --rate 1000 --damage 0.05
# for SOAK_SECONDS (600), its data port changed through the port dialog by
# real key presses every SOAK_INTERVAL (20) seconds and the configuration
# file checked after each change. Reports crashes, resident memory at start
# and end, and the error texts the window printed; exits non-zero on a crash,
# a lost key press or port change, a configuration file that does not hold
# the port, or memory growth of SOAK_MAX_GROWTH_KIB (5120) or more.
# Usage: tests/soak/soak.sh [build folder, default build]
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
app=$build/app/skywandtester
sim=$build/tools/kestrel-sim
duration=${SOAK_SECONDS:-600}
interval=${SOAK_INTERVAL:-20}
max_growth_kib=${SOAK_MAX_GROWTH_KIB:-5120}
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/bootstrap installs it)"; exit 1; }
done
[ -x "$app" ] && [ -x "$sim" ] || { echo "FAIL: build $app and $sim first"; exit 1; }

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

# The configuration file lives beside the executable: the window runs from a
# copy in a scratch folder and never touches the build's file.
cp "$app" "$work/skywandtester"
[ -d "$build/app/doc" ] && cp -r "$build/app/doc" "$work/doc"
base=$((20000 + RANDOM % 20000))
ports=("$base" "$((base + 1))")
printf '%s' "${ports[0]}" >"$work/skywandtester.config"

# One simulator per port, so that whichever port the window holds gets
# hostile traffic at once.
sim_pids=()
for i in 0 1; do
  "$sim" --port "${ports[$i]}" --rate 1000 --damage 0.05 --seed $((i + 1)) --quiet \
    2>"$work/sim$i.log" &
  sim_pids+=($!)
  pids+=($!)
done

. "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "$work" || fail_now "Xvfb did not start"
pids+=("$XVFB_PID")
export QT_QPA_PLATFORM=xcb

"$work/skywandtester" 2>"$work/window.log" &
app_pid=$!
pids+=($app_pid)
wid=$(timeout 10 xdotool search --sync --onlyvisible --name '^Skywandtester$' | head -n1) || fail_now "no window"

sleep 5 # let the receiver and the allocator settle before the first reading
rss_start=$(rss_kib "$app_pid")
start=$SECONDS
changes=0
current=0
echo "soak: ${duration} s, port change every ${interval} s, ports ${ports[*]}, window pid $app_pid, RSS ${rss_start} KiB"

while [ $((SECONDS - start)) -lt "$duration" ]; do
  next_change=$((SECONDS + interval))
  while [ $SECONDS -lt "$next_change" ] && [ $((SECONDS - start)) -lt "$duration" ]; do
    kill -0 "$app_pid" 2>/dev/null || break 2
    sleep 1
  done
  kill -0 "$app_pid" 2>/dev/null || break
  [ $((SECONDS - start)) -lt "$duration" ] || break

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
    if cmp -s "$work/skywandtester.config" <(printf '%s' "$port"); then ok=1; break; fi
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
if ! cmp -s "$work/skywandtester.config" <(printf '%s' "${ports[$current]}"); then
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
echo "resident memory: start ${rss_start} KiB, end ${rss_end} KiB, growth ${growth} KiB"
echo "simulators:"
tail -qn1 "$work/sim0.log" "$work/sim1.log" | sed 's/^/  /'
echo "error texts seen on the window's output (count, text):"
sort "$work/window.log" | uniq -c | sort -rn | head -n 20
if [ ${#failures[@]} -gt 0 ]; then
  echo "FAIL:"
  printf '  %s\n' "${failures[@]}"
  exit 1
fi
echo "PASS"
