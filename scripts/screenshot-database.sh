#!/bin/sh
# Takes screenshots of the database dialogs of the real program under Xvfb, opened the way the
# operator opens them: page "数据维护", button "数据库设置" (the chooser), then "连接".
#   scripts/screenshot-database.sh [BUILD_DIR]   (default: build-shell; the program is
#                                                 BUILD_DIR/bin/velmora)
# Writes docs/database-chooser.png, docs/database-mssql.png and docs/database-access.png. Xvfb has
# no window manager: the clicks go to fixed places of the windows (xdotool), laid out with the
# CJK font the set-up installs. Each run uses a temporary application folder on a free loopback
# port; the program is ended with SIGTERM.
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
stop_program() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null || true
  program_pid=""
}
cleanup() {
  stop_program
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((80 + $$ % 9))
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
sleep 1
export DISPLAY=$display

# The id of the top-level window whose caption is $1; empty after 10 s.
find_window() {
  for _ in $(seq 1 50); do
    id=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1\":" '$2 == t {print $1; exit}')
    [ -n "$id" ] && { echo "$id"; return; }
    sleep 0.2
  done
}
width_of() { xwininfo -id "$1" | awk '/Width:/ {print $2}'; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

# Starts the program on a folder whose DataBase.CFG holds $1, opens the chooser and presses "连接";
# shoots the chooser into $2 and the engine dialog captioned $3 into $4.
shoot() {
  app="$work/app$$-$2"
  mkdir -p "$app"
  port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf '[CONFIG]\r\nSVROPENPORT=%s\r\n' "$port" > "$app/CONFIG.CFG"
  printf "$1" > "$app/DataBase.CFG"
  # Under AddressSanitizer, leaks inside fontconfig and D-Bus at exit are not ours.
  LSAN_OPTIONS="suppressions=$root/tests/app/lsan_qt.supp" QT_QPA_PLATFORM=xcb \
    "$program" --app-dir "$app" > "$work/out.txt" 2>&1 &
  program_pid=$!
  main=$(find_window "数据服务器3.0")
  [ -n "$main" ] || { echo "the main window did not appear" >&2; cat "$work/out.txt" >&2; exit 1; }
  sleep 1
  click "$main" 275 52   # the tab "数据维护"
  sleep 0.5
  click "$main" 50 85    # "数据库设置"
  chooser=$(find_window "数据库设置")
  [ -n "$chooser" ] || { echo "the chooser did not appear" >&2; exit 1; }
  sleep 1
  mkdir -p "$root/docs"
  [ -n "$2" ] && import -window "$chooser" "$root/docs/$2" && echo "wrote $root/docs/$2"
  click "$chooser" $(($(width_of "$chooser") - 40)) 20   # "连接"
  dialog=$(find_window "$3")
  [ -n "$dialog" ] || { echo "the dialog $3 did not appear" >&2; exit 1; }
  sleep 1
  import -window "$dialog" "$root/docs/$4"
  echo "wrote $root/docs/$4"
  stop_program
}

shoot 'DriverID=MSSQL\r\nUser_Name=sa\r\nPassword=secret\r\nServer=db1\\SQLEXPRESS\r\nDatabase=Sales\r\n' \
  database-chooser.png "MSSQL数据库" database-mssql.png
shoot 'DriverID=MSAcc\r\nUser_Name=Admin\r\nDatabase=/srv/velmora/data.mdb\r\n' \
  "" "Accese数据库" database-access.png
