#!/usr/bin/env bash
# Builds the Debian package from a finished build folder, unpacks it into a
# temporary root and checks what a lab machine would get: the layout, the
# links, the runtime dependencies, the maintainer scripts, the man pages, a
# tool that runs, and the window started through its /usr/bin link as an
# unprivileged user, opening its manual and keeping its port on exit.
# Usage: check-package.sh <build folder> <cpack>
set -euo pipefail

build=$1
cpack=$2

fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in dpkg-deb dpkg lintian Xvfb xdotool man setpriv readelf od; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/bootstrap installs it)"
done

tmp=$(mktemp -d)
chmod 0755 "$tmp"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "== cpack"
(cd "$build" && "$cpack" --config CPackConfig.cmake -B "$tmp/out" >"$tmp/cpack.log" 2>&1) \
  || { cat "$tmp/cpack.log"; fail "cpack"; }
deb=$(ls "$tmp"/out/skywandtester_*.deb)

echo "== control fields"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
names=$(sed 's/ ([^)]*)//g; s/, */\n/g' <<<"$depends")
for lib in libqt6widgets6 libqt6gui6 libqt6core6 libpcap0.8 libc6 libstdc++6; do
  grep -Fqx "$lib" <<<"$names" || fail "Depends lacks $lib"
done
! grep -q -- '-dev$' <<<"$names" || fail "Depends names a development package"

echo "== layout"
root=$tmp/root
dpkg -x "$deb" "$root"
opt=$root/opt/skywandtester
for program in skywandtester kestrel-sim kestrel-dump kestrel-ctl kestrel-check; do
  [ -x "$opt/$program" ] || fail "$opt/$program is not an executable"
  [ "$(readlink "$root/usr/bin/$program")" = "/opt/skywandtester/$program" ] \
    || fail "usr/bin/$program is not a link to /opt/skywandtester/$program"
  # Outputs are captured first: with pipefail, grep -q ending a pipe early
  # would fail the pipe through SIGPIPE.
  dynamic=$(readelf -d "$opt/$program")
  sections=$(readelf -S "$opt/$program")
  libraries=$(ldd "$opt/$program")
  ! grep -Eq 'RPATH|RUNPATH' <<<"$dynamic" || fail "$program keeps a run path"
  # Hardened as Debian's own packages: relocations bound at start, then read-only.
  grep -Eq 'BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || fail "$program binds lazily"
  readelf -lW "$opt/$program" | grep -q GNU_RELRO || fail "$program has no read-only relocations"
  ! grep -q '\.debug_info' <<<"$sections" || fail "$program is not stripped"
  ! grep -q 'not found' <<<"$libraries" || fail "$program lacks a library"
done
[ -f "$opt/doc/index.html" ] || fail "the manual is not beside the executable"
[ ! -e "$opt/doc/screenshots.sh" ] || fail "the script that makes the manual's pictures is shipped"
[ -z "$(find "$opt" -name skywandtester.config)" ] || fail "the port file is shipped (an upgrade would reset it)"
desktop=$root/usr/share/applications/skywandtester.desktop
grep -qx 'Exec=skywandtester' "$desktop" || fail "desktop entry: Exec"
grep -qx 'Icon=skywandtester' "$desktop" || fail "desktop entry: Icon"
icon=$root/usr/share/icons/hicolor/128x128/apps/skywandtester.png
# A PNG's signature, then its IHDR width and height as big-endian words.
header=$(od -An -tx1 -N24 "$icon" | tr -d ' \n')
[ "${header:0:16}" = 89504e470d0a1a0a ] && [ "${header:32:16}" = 0000008000000080 ] \
  || fail "the icon is not a 128 x 128 PNG"
for tool in kestrel-sim kestrel-dump kestrel-ctl kestrel-check; do
  page=$root/usr/share/man/man1/$tool.1.gz
  [ -f "$page" ] || fail "no man page for $tool"
  text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
  grep -q -- '--help' <<<"$text" || fail "the man page of $tool lacks its options"
  ! grep -q "$build" <<<"$text" || fail "the man page of $tool names the build folder"
done

echo "== maintainer scripts"
dpkg-deb -e "$deb" "$tmp/control"
config=$opt/skywandtester.config
DPKG_ROOT=$root sh "$tmp/control/postinst" configure
[ "$(cat "$config")" = 5000 ] || fail "postinst did not create the port file with 5000"
[ "$(stat -c %a "$config")" = 666 ] || fail "the port file is not writable by every user"
printf 6001 >"$config"
DPKG_ROOT=$root sh "$tmp/control/postinst" configure 2-1
[ "$(cat "$config")" = 6001 ] || fail "an upgrade reset the chosen port"
DPKG_ROOT=$root sh "$tmp/control/postrm" purge
[ ! -e "$config" ] || fail "purge left the port file"
mkdir -p "$opt"
DPKG_ROOT=$root sh "$tmp/control/postinst" configure

echo "== lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors"

echo "== installed kestrel-dump --help"
"$opt/kestrel-dump" --help >"$tmp/help.txt" || fail "kestrel-dump --help failed"
grep -q '^Usage: kestrel-dump' "$tmp/help.txt" || fail "kestrel-dump --help prints no usage"

echo "== installed window, through a link, as an unprivileged user"
# The program folder belongs to root, as after a real install; the window runs
# as nobody, so it can only write the port file in place.
# Any port will do: the window only reports one it cannot open.
port=$((20000 + RANDOM % 40000))
printf '%s' "$port" >"$config"
touch -d '2000-01-01 00:00:00' "$config"
inode=$(stat -c %i "$config")
mkdir -p "$tmp/bin" "$tmp/home"
ln -s "$opt/skywandtester" "$tmp/bin/skywandtester"
run_as=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R root:root "$root"
  chown nobody "$tmp/home"
  run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
  chmod 0555 "$opt"
fi

# -ac: the window runs as another user, who has no key to this server.
. "$(dirname "$0")/../../scripts/xvfb.sh"
start_xvfb "$tmp" 1024x768x24 -ac || fail "Xvfb did not start"
pids+=("$XVFB_PID")

env -i PATH=/usr/bin:/bin HOME="$tmp/home" DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
  "${run_as[@]}" "$tmp/bin/skywandtester" >"$tmp/window.log" 2>&1 &
window=$!
pids+=($window)

wait_for_title() {
  for _ in $(seq 150); do
    xdotool search --name "^$1\$" >/dev/null 2>&1 && return 0
    kill -0 "$window" 2>/dev/null || { cat "$tmp/window.log"; fail "the window ended early"; }
    sleep 0.1
  done
  cat "$tmp/window.log"
  fail "no window titled \"$1\""
}
wait_for_title Skywandtester
main=$(xdotool search --name '^Skywandtester$' | head -n1)
xdotool windowfocus --sync "$main" key F1
wait_for_title 'Skywandtester manual'
echo "the manual opened from $opt/doc"

xdotool windowfocus --sync "$main" key q
for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$window" 2>/dev/null || fail "the window did not end on its Exit key"
wait "$window" || fail "the window exited with an error"
[ "$(cat "$config")" = "$port" ] || fail "the port file changed its content"
[ "$(stat -c %Y "$config")" -gt 946684800 ] || fail "the window did not save its port file"
[ "$(stat -c %i "$config")" = "$inode" ] || fail "the port file was replaced instead of written in place"
[ "$(stat -c %a "$config")" = 666 ] || fail "the port file lost its mode"
echo "the window saved its port in place"
echo "== package checks passed"
