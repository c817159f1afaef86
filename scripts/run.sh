#!/usr/bin/env bash
# Installs what is missing, builds into build/, and starts the server on an embedded SQLite
# database beside the executable (created with sample tables on the first run). With a display the
# window opens; without one the server runs headless and logs to standard output.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF
cmake --build build

app_dir="$PWD/build/bin"
db="$app_dir/velmora.db"
if [ ! -f "$app_dir/DataBase.CFG" ]; then
  printf 'DriverID=SQLite\r\nDatabase=%s\r\n' "$db" > "$app_dir/DataBase.CFG"
fi
if [ ! -f "$db" ]; then
  sqlite3 "$db" < scripts/sample.sql
  echo "Created the sample database $db"
fi
mkdir -p "$app_dir/Upload"

port=211
if [ -f "$app_dir/CONFIG.CFG" ]; then
  p=$(sed -n 's/^[Ss][Vv][Rr][Oo][Pp][Ee][Nn][Pp][Oo][Rr][Tt]=\(.*\)$/\1/p' "$app_dir/CONFIG.CFG" | tr -d '\r' | head -n1)
  [ -n "$p" ] && port=$p
fi
cat <<MSG
Velmora listens on port $port (account "admin", password "velmo" unless CONFIG.CFG says otherwise).
Try, from another terminal:
  build/bin/velmora-cli --port $port time
  build/bin/velmora-cli --port $port query "SELECT * FROM customers"
MSG

args=(--app-dir "$app_dir")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  args+=(--headless)
fi
exec "$app_dir/velmora" "${args[@]}"
