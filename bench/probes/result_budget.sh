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
# The server and clients run as bench/probes/server_probe.sh sets them up; every client is bounded
# by `timeout`.
set -euo pipefail

rows=${ROWS:-25000000}
pair_rows=${PAIR_ROWS:-15000000}
statement_timeout=${STATEMENT_TIMEOUT:-300}
client_timeout=${CLIENT_TIMEOUT:-360}
# shellcheck source=bench/probes/server_probe.sh
. "$(dirname "$0")/server_probe.sh" "${1:-build-rel}"
write_config '[Limits]' "StatementTimeoutSeconds=$statement_timeout" "${LIMITS:-}"

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
