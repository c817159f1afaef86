#!/usr/bin/env bash
# Velmora against PostgreSQL on the same machine, the same BIG_TABLE (100,000 rows) and the same
# client counts, back to back (not run by CTest). Prints each pair's figures and their ratio:
#   small    velmora-bench --workload small   vs pgbench, one row by key (simple protocol)
#   large    velmora-bench --workload large   vs psql -c 'select * from big_table' > /dev/null
#   connect  velmora-bench --workload connect vs pgbench -C (SELECT now()), direct and through
#            pgbouncer (pool mode session)
# Velmora: a Release `velmora --headless` on SQLite in a temporary folder; PostgreSQL: a throwaway
# cluster (scripts/pg-cluster.sh). Everything it starts is stopped and removed on exit, also on
# failure or Ctrl-C.
#
# Usage: bench/peers/compare_postgres.sh [bin folder]       (default build-rel/bin)
#   CLIENTS=8 SECONDS_EACH=5 ROUNDS=3 LARGE_RUNS=5 ROWS=100000
# Build: cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON
#        cmake --build build-rel --target velmora velmora-bench
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build-rel/bin}" && pwd)
clients=${CLIENTS:-8}
seconds=${SECONDS_EACH:-5}
rounds=${ROUNDS:-3}
large_runs=${LARGE_RUNS:-5}
rows=${ROWS:-100000}

for tool in "$bin/velmora" "$bin/velmora-bench"; do
  [ -x "$tool" ] || { echo "missing $tool (build the Release targets first)" >&2; exit 1; }
done
for tool in pgbench psql pgbouncer python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/setup.sh)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/velmora-peers.XXXXXX)
chmod 0755 "$work"
pg_dir="$work/pg"
velmora_pid=
bouncer_pid=
cleanup() {
  set +e
  [ -n "$velmora_pid" ] && kill -TERM "$velmora_pid" 2>/dev/null && wait "$velmora_pid" 2>/dev/null
  [ -n "$bouncer_pid" ] && kill -TERM "$bouncer_pid" 2>/dev/null && wait "$bouncer_pid" 2>/dev/null
  [ -d "$pg_dir" ] && "$root/scripts/pg-cluster.sh" stop "$pg_dir"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
median() { python3 -c 'import statistics,sys; print(statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }
ratio() { python3 -c 'import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print(f"{a/b:.2f}x" if b else "n/a")' "$1" "$2"; }
now() { date +%s.%N; }

echo "== setting up ($rows rows each side) in $work"
# PostgreSQL, its table, and a pgbouncer in front of it.
"$root/scripts/pg-cluster.sh" start "$pg_dir"
# shellcheck disable=SC1091
. "$pg_dir/server.env"
export PGHOST PGPORT PGUSER
pg_port=$PGPORT
psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pg_port" -d postgres -c 'CREATE DATABASE bench'
python3 "$here/big_table.py" pg "$rows" | PGOPTIONS="-c client_min_messages=warning" \
  psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pg_port" -d bench >/dev/null

bouncer_port=$(free_port)
mkdir -p "$work/bouncer"
printf '"postgres" ""\n' >"$work/bouncer/users.txt"
cat >"$work/bouncer/pgbouncer.ini" <<INI
[databases]
bench = host=127.0.0.1 port=$pg_port dbname=bench user=postgres
[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $bouncer_port
unix_socket_dir =
auth_type = trust
auth_file = $work/bouncer/users.txt
pool_mode = session
max_client_conn = 500
default_pool_size = $((clients + 4))
logfile = $work/bouncer/pgbouncer.log
log_connections = 0
log_disconnections = 0
INI
chown -R postgres "$work/bouncer" 2>/dev/null || true
# As root pgbouncer drops to the postgres user itself, so the pid is pgbouncer's own.
if [ "$(id -u)" -eq 0 ]; then
  pgbouncer -u postgres "$work/bouncer/pgbouncer.ini" >/dev/null 2>&1 &
else
  pgbouncer "$work/bouncer/pgbouncer.ini" >/dev/null 2>&1 &
fi
bouncer_pid=$!

# Velmora: a Release server on SQLite holding the same rows.
mkdir -p "$work/velmora/Upload"
python3 "$here/big_table.py" sqlite "$work/velmora/bench.db" "$rows"
velmora_port=$(free_port)
printf '[CONFIG]\r\nSVROPENPORT=%s\r\nSVRUSERNAME=bench\r\nSVRPASSWORD=bench\r\n' \
  "$velmora_port" >"$work/velmora/CONFIG.CFG"
printf 'DriverID=SQLite\r\nDatabase=%s\r\n' "$work/velmora/bench.db" >"$work/velmora/DataBase.CFG"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work/velmora" \
  "$bin/velmora" --headless --app-dir "$work/velmora" >"$work/velmora/out.log" 2>"$work/velmora/err.log" &
velmora_pid=$!
for _ in $(seq 100); do grep -q "端口" "$work/velmora/out.log" 2>/dev/null && break; sleep 0.1; done
grep -q "端口" "$work/velmora/out.log" || { echo "velmora did not start:"; cat "$work/velmora/err.log"; exit 1; }
for _ in $(seq 50); do
  psql -X -h 127.0.0.1 -p "$bouncer_port" -d bench -tAc 'select 1' >/dev/null 2>&1 && break
  sleep 0.1
done
psql -X -h 127.0.0.1 -p "$bouncer_port" -d bench -tAc 'select 1' >/dev/null

printf '\\set id random(1, %d)\nSELECT * FROM big_table WHERE id = :id;\n' "$rows" >"$work/one_row.sql"
printf 'SELECT now();\n' >"$work/clock.sql"

# pgbench's tps line; -C runs report the figure that includes the connections.
pgbench_tps() {
  local port=$1 script=$2
  shift 2
  pgbench -n -h 127.0.0.1 -p "$port" -c "$clients" -j "$clients" -T "$seconds" -f "$script" "$@" bench |
    awk '/^tps = / {print $3; exit}'
}
velmora_field() {
  local workload=$1 n=$2 field=$3
  "$bin/velmora-bench" --host 127.0.0.1 --port "$velmora_port" --user bench --password bench \
    --workload "$workload" --clients "$n" --seconds "$seconds" --json |
    python3 -c "import json,sys; r=json.loads(sys.stdin.readline()); e=r['errors']; \
print(r['$field']) if e == 0 else sys.exit(f'{e} errors in $workload')"
}
psql_rows_per_s() {
  local start end
  start=$(now)
  psql -X -h 127.0.0.1 -p "$pg_port" -d bench -c 'select * from big_table' >/dev/null
  end=$(now)
  python3 -c "print($rows / ($end - $start))"
}
vm_kib() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$velmora_pid/status"; }

echo "== machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg); $clients clients, $seconds s each, $rounds rounds"
rss_start=$(vm_kib VmRSS)
for round in $(seq "$rounds"); do
  echo "-- round $round"
  v=$(velmora_field small "$clients" calls_per_s)
  p=$(pgbench_tps "$pg_port" "$work/one_row.sql")
  printf '  small    velmora %10.1f calls/s   pgbench %10.1f tps            ratio %s\n' "$v" "$p" "$(ratio "$v" "$p")"

  vl=$(velmora_field large 1 rows_per_s)
  runs=()
  for _ in $(seq "$large_runs"); do runs+=("$(psql_rows_per_s)"); done
  pl=$(median "${runs[@]}")
  printf '  large    velmora %10.0f rows/s    psql    %10.0f rows/s (median of %d) ratio %s\n' \
    "$vl" "$pl" "$large_runs" "$(ratio "$vl" "$pl")"

  vc=$(velmora_field connect "$clients" calls_per_s)
  pc=$(pgbench_tps "$pg_port" "$work/clock.sql" -C)
  bc=$(pgbench_tps "$bouncer_port" "$work/clock.sql" -C)
  printf '  connect  velmora %10.1f cycles/s  pgbench -C %7.1f tps, via pgbouncer %7.1f tps  ratio %s, %s\n' \
    "$vc" "$pc" "$bc" "$(ratio "$vc" "$pc")" "$(ratio "$vc" "$bc")"
done
echo "== velmora server memory: RSS at start $rss_start KiB, peak (VmHWM) $(vm_kib VmHWM) KiB"
