#!/bin/sh
# Takes a screenshot of the real main window's maintenance page ("数据维护") under Xvfb, after a
# backup made with `velmora --backup-now`, into docs/maintenance.png.
#   scripts/screenshot-maintenance.sh [BUILD_DIR]   (default: build-shell; the program is
#                                                   BUILD_DIR/bin/velmora)
# The program runs in a temporary application folder on a free loopback port with a small SQLite
# database, a daily schedule at 02:30 and the default backup folder; it is ended with SIGTERM.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build-shell"}
program="$build/bin/velmora"
[ -x "$program" ] || { echo "no program at $program: build the target velmora first" >&2; exit 1; }

for tool in import:imagemagick xdotool:xdotool; do
  if ! command -v "${tool%%:*}" >/dev/null 2>&1; then
    echo "${tool%%:*} is missing: installing ${tool#*:}" >&2
    apt-get install -y --no-install-recommends "${tool#*:}" >/dev/null
  fi
done

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
printf '[CONFIG]\r\nSVROPENPORT=%s\r\n[Backup]\r\nBackupType=2\r\nEveryDay=2\r\nEveryTime=30\r\n' \
  "$port" > "$work/CONFIG.CFG"
python3 - "$work/velmora.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("CREATE TABLE customers (id INTEGER PRIMARY KEY, name TEXT)")
db.executemany("INSERT INTO customers (name) VALUES (?)", [("客户%d" % i,) for i in range(100)])
db.commit()
PY
printf 'DriverID=SQLite\r\nDatabase=%s\r\n' "$work/velmora.db" > "$work/DataBase.CFG"

display=:$((90 + $$ % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1

# Under AddressSanitizer, leaks inside fontconfig and D-Bus at exit are not ours.
LSAN_OPTIONS="suppressions=$root/tests/app/lsan_qt.supp" \
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$program" --app-dir "$work" > "$work/out.txt" 2>&1 &
program_pid=$!
window=""
for _ in $(seq 1 50); do
  window=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/数据服务器/ {print $1; exit}')
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "the window did not appear" >&2; cat "$work/out.txt" >&2; exit 1; }
sleep 1

# The backup, made by the running copy (its status bar and log show it).
LSAN_OPTIONS="suppressions=$root/tests/app/lsan_qt.supp" "$program" --app-dir "$work" --backup-now

# Page 3: a click on its tab, the fourth, found by its place in the window (there is no window
# manager to give the window the keyboard focus).
DISPLAY=$display xdotool mousemove --window "$window" 275 51 click 1
sleep 2  # the page paints
mkdir -p "$root/docs"
DISPLAY=$display import -window "$window" "$root/docs/maintenance.png"
echo "wrote $root/docs/maintenance.png"
