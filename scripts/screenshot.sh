#!/bin/sh
# Takes a screenshot of the real main window under Xvfb into docs/window.png.
#   scripts/screenshot.sh [BUILD_DIR]   (default: build-shell; the program is BUILD_DIR/bin/velmora)
# Xvfb has no notification area, so the window shows itself at start-up. The program runs in a
# temporary application folder on a free loopback port and is ended with SIGTERM afterwards.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-shell"}
program="$build/bin/velmora"
[ -x "$program" ] || { echo "no program at $program: build the target velmora first" >&2; exit 1; }

if ! command -v import >/dev/null 2>&1; then
  echo "ImageMagick's import is missing: installing imagemagick" >&2
  apt-get install -y --no-install-recommends imagemagick >/dev/null
fi

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '[CONFIG]\r\nSVROPENPORT=%s\r\n' "$port" > "$work/CONFIG.CFG"

display=:$((90 + $$ % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1

# Under AddressSanitizer, leaks inside fontconfig and D-Bus at exit are not ours.
LSAN_OPTIONS="suppressions=$root/tests/app/lsan_qt.supp" \
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$program" --app-dir "$work" > "$work/out.txt" 2>&1 &
program_pid=$!
# The window of the program, found by its caption; the whole screen when it does not appear.
window=""
for _ in $(seq 1 50); do
  window=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/数据服务器/ {print $1; exit}')
  [ -n "$window" ] && break
  sleep 0.2
done
sleep 2  # the window paints
mkdir -p "$root/docs"
if [ -n "$window" ]; then
  DISPLAY=$display import -window "$window" "$root/docs/window.png"
else
  DISPLAY=$display import -window root -crop 620x520+0+0 "$root/docs/window.png"
fi
echo "wrote $root/docs/window.png"
