#!/usr/bin/env bash
# Peak resident memory (VmHWM) of a headless `velmora` serving large query results, seen from
# outside: one SELECT of ROWS short rows (a recursive CTE in SQLite), then, on a fresh server, two
# clients asking PAIR_ROWS rows each at once. After each round the server must still answer a small
# query. Prints the peak, the wall time and what each client was told.
#
#   bench/probes/result_budget.sh [BUILD_DIR]     (default build-rel; needs bin/velmora, bin/velmora-cli)
#
# Environment: ROWS (25000000), PAIR_ROWS (15000000), STATEMENT_TIMEOUT seconds (300: SQLite scans
# a query of untyped expression columns twice, once for their types, so the rows take a while to
# come), CLIENT_TIMEOUT seconds per client (360), LIMITS: extra lines for CONFIG.CFG's [Limits]
# section, e.g. LIMITS=$'ResultMaxMiB=64'.
# The server and clients run in a network namespace of their own where only the loopback exists
# (when `unshare --net` is allowed), so nothing listens beyond 127.0.0.1; every client is bounded
# by `timeout` and the server is stopped with SIGTERM (SIGKILL after 10 s).
set -euo pipefail

build=$(cd "${1:-build-rel}" && pwd)
rows=${ROWS:-25000000}
pair_rows=${PAIR_ROWS:-15000000}
statement_timeout=${STATEMENT_TIMEOUT:-300}
client_timeout=${CLIENT_TIMEOUT:-360}

if [ -z "${VELMORA_PROBE_NETNS:-}" ] && unshare --net true 2>/dev/null; then
  exec env VELMORA_PROBE_NETNS=1 unshare --net bash -c 'ip link set lo up && exec bash "$0" "$@"' \
    "$0" "$build"
fi

server=$build/bin/velmora
cli=$build/bin/velmora-cli
[ -x "$server" ] && [ -x "$cli" ] || { echo "no $server or $cli" >&2; exit 2; }

work=$(mktemp -d)
pid=
stop_server() {
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
}
trap 'stop_server; rm -rf "$work"' EXIT

port=$((20000 + RANDOM % 20000))
mkdir -p "$work/app/Upload"
printf '[CONFIG]\r\nSVROPENPORT=%s\r\n[Limits]\r\nStatementTimeoutSeconds=%s\r\n%s\r\n' \
  "$port" "$statement_timeout" "${LIMITS:-}" > "$work/app/CONFIG.CFG"
printf 'DriverID=SQLite\r\nDatabase=%s\r\nCreateDatabase=Yes\r\n' "$work/probe.db" \
  > "$work/app/DataBase.CFG"

start_server() {
  : > "$work/server.log"
  "$server" --headless --app-dir "$work/app" > "$work/server.log" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    grep -q '服务启动完成' "$work/server.log" && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
}

rows_sql() {
  echo "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < $1) SELECT x FROM c"
}

# Runs one query client; its outcome (rows printed or the error) goes to $work/out.$2.
query() {
  local started=$SECONDS rc=0
  timeout "$client_timeout" "$cli" --port "$port" --format csv query "$(rows_sql "$1")" \
    > "$work/rows.$2" 2> "$work/err.$2" || rc=$?
  local printed
  printed=$(($(wc -l < "$work/rows.$2") - 1))
  [ "$printed" -lt 0 ] && printed=0
  printf 'client %s: %s rows asked, exit %s after %ss, %s rows received; %s\n' "$2" "$1" "$rc" \
    $((SECONDS - started)) "$printed" "$(head -c 300 "$work/err.$2" | tr '\n' ' ')" \
    > "$work/out.$2"
  rm -f "$work/rows.$2"
}

peak() {
  if kill -0 "$pid" 2>/dev/null; then
    awk '/VmHWM|VmRSS/ {printf "%s %.0f MiB  ", $1, $2 / 1024}' "/proc/$pid/status"
  else
    printf 'the server is gone (%s)' "$(tail -n 2 "$work/server.log" | tr '\n' ' ')"
  fi
}

still_serving() {
  if timeout 30 "$cli" --port "$port" --format csv query "SELECT 1 AS one" > /dev/null 2>&1; then
    echo "a small query afterwards: answered"
  else
    echo "a small query afterwards: NOT answered"
  fi
}

echo "== one client, $rows rows"
start_server
query "$rows" 1
cat "$work/out.1"
echo "server: $(peak)"
still_serving
stop_server

echo "== two clients at once, $pair_rows rows each"
start_server
query "$pair_rows" 2 &
first=$!
query "$pair_rows" 3 &
second=$!
wait "$first" "$second" || true
cat "$work/out.2" "$work/out.3"
echo "server: $(peak)"
still_serving
stop_server
