#!/usr/bin/env bash
# Velmora against PostgreSQL on the same machine, the same BIG_TABLE (100,000 rows) and the same
# client counts, in interleaved rounds (not run by CTest). Each round runs every pair once, Velmora
# first and its peer right after, so that both sides of a ratio share the load of that moment; at
# the end each ratio is the median of the rounds:
#   small    velmora-bench --workload small   vs pgbench, one row by key (simple protocol): calls/s,
#            p50 and p99 latency of both, and the CPU per call of each side's server and client
#            (Velmora's server process; PostgreSQL's postmaster with the backends it reaped;
#            velmora-bench and pgbench as processes)
#   large    velmora-bench --workload large   vs psql -qAt -c 'select * from big_table' > /dev/null
#   connect  velmora-bench --workload connect vs pgbench -C (SELECT now()), direct and through
#            pgbouncer (pool mode session)
# Velmora: a Release `velmora --headless` on SQLite in a temporary folder; PostgreSQL: a throwaway
# cluster (scripts/pg-cluster.sh). Everything it starts is stopped and removed on exit, also on
# failure or Ctrl-C.
#
# Usage: bench/peers/compare_postgres.sh [bin folder]       (default build-rel/bin)
#   CLIENTS=8 SECONDS_EACH=5 ROUNDS=5 LARGE_RUNS=5 ROWS=100000
# Build: cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON
#        cmake --build build-rel --target velmora velmora-bench
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build-rel/bin}" && pwd)
clients=${CLIENTS:-8}
seconds=${SECONDS_EACH:-5}
rounds=${ROUNDS:-5}
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
median() { python3 -c 'import statistics,sys; print("%.2f" % statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }
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

# CPU seconds (user + system) of a process, with the children it has reaped.
cpu_s() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13 + $14 + $15) / hz }' "/proc/$1/stat"
}
pg_pid=$(head -1 "$pg_dir/data/postmaster.pid")
# Runs a command with its output in $work/timed.out and its CPU seconds (its own and its
# children's, user + system) in $work/timed.cpu.
timed() {
  local t
  t=$({ TIMEFORMAT='%U %S'; time "$@" >"$work/timed.out" 2>"$work/timed.err"; } 2>&1) ||
    { cat "$work/timed.err" >&2; return 1; }
  awk '{print $1 + $2}' <<<"$t" >"$work/timed.cpu"
}
py() { python3 -c "$@"; }

# pgbench's tps line; -C runs report the figure that includes the connections.
pgbench_tps() {
  local port=$1 script=$2
  shift 2
  pgbench -n -h 127.0.0.1 -p "$port" -c "$clients" -j "$clients" -T "$seconds" -f "$script" "$@" bench |
    awk '/^tps = / {print $3; exit}'
}
velmora_json() {
  local workload=$1 n=$2
  "$bin/velmora-bench" --host 127.0.0.1 --port "$velmora_port" --user bench --password bench \
    --workload "$workload" --clients "$n" --seconds "$seconds" --json
}
velmora_field() {
  velmora_json "$1" "$2" | py "import json,sys; r=json.loads(sys.stdin.readline()); e=r['errors']; \
print(r['$3']) if e == 0 else sys.exit(f'{e} errors in $1')"
}
psql_rows_per_s() {
  local start end
  start=$(now)
  psql -X -qAt -h 127.0.0.1 -p "$pg_port" -d bench -c 'select * from big_table' >/dev/null
  end=$(now)
  py "print($rows / ($end - $start))"
}
vm_kib() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$velmora_pid/status"; }

# The one-row pair of a round (pgbench logs one transaction in ten for its latencies, which keeps
# the log's cost out of its throughput); prints "v_calls v_p50 v_p99 v_server v_client p_tps p_p50 p_p99
# p_server p_client" (latencies in microseconds, CPU in microseconds per call).
small_pair() {
  local s0 s1 vcpu p0 p1 pcpu
  s0=$(cpu_s "$velmora_pid")
  timed velmora_json small "$clients"
  cp "$work/timed.out" "$work/velmora.json"
  vcpu=$(cat "$work/timed.cpu")
  s1=$(cpu_s "$velmora_pid")
  rm -f "$work"/pgb.*
  p0=$(cpu_s "$pg_pid")
  (cd "$work" && timed pgbench -n -h 127.0.0.1 -p "$pg_port" -c "$clients" -j "$clients" \
    -T "$seconds" -f "$work/one_row.sql" -l --sampling-rate=0.1 --log-prefix=pgb bench)
  pcpu=$(cat "$work/timed.cpu")
  sleep 0.3 # the postmaster reaps the ended backends
  p1=$(cpu_s "$pg_pid")
  WORK=$work py "
import glob, json, os, sys
w = os.environ['WORK']
v = json.loads(open(w + '/velmora.json').readline())
if v['errors']: sys.exit(str(v['errors']) + ' errors in small')
lat = sorted(int(line.split()[2]) for f in glob.glob(w + '/pgb.*') for line in open(f))
out = open(w + '/timed.out').read().splitlines()
tps = next(float(l.split()[2]) for l in out if l.startswith('tps = '))
n = next(int(l.split()[-1]) for l in out if l.startswith('number of transactions actually'))
q = lambda p: lat[min(len(lat) - 1, int(p * len(lat)))]
print(v['calls_per_s'], v['p50_us'], v['p99_us'], 1e6 * ($s1 - $s0) / v['calls'],
      1e6 * $vcpu / v['calls'], tps, q(0.50), q(0.99), 1e6 * ($p1 - $p0) / n, 1e6 * $pcpu / n)"
}

echo "== machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg); $clients clients, $seconds s each, $rounds rounds"
rss_start=$(vm_kib VmRSS)
small_ratios=() large_ratios=() connect_ratios=() bouncer_ratios=() summary=()
for round in $(seq "$rounds"); do
  echo "-- round $round (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  read -r v vp50 vp99 vsrv vcli p pp50 pp99 psrv pcli <<<"$(small_pair)"
  small_ratios+=("$(py "print($v / $p)")")
  printf '  small    velmora %10.1f calls/s   pgbench %10.1f tps            ratio %s\n' "$v" "$p" "$(ratio "$v" "$p")"
  printf '           p50/p99 us: velmora %s / %s, pgbench %s / %s\n' "$vp50" "$vp99" "$pp50" "$pp99"
  printf '           CPU us per call: velmora server %.1f, client %.1f; postgres %.1f, pgbench %.1f\n' \
    "$vsrv" "$vcli" "$psrv" "$pcli"
  summary+=("$v $vp50 $vp99 $vsrv $vcli $p $pp50 $pp99 $psrv $pcli")

  vl=$(velmora_field large 1 rows_per_s)
  runs=()
  for _ in $(seq "$large_runs"); do runs+=("$(psql_rows_per_s)"); done
  pl=$(median "${runs[@]}")
  large_ratios+=("$(py "print($vl / $pl)")")
  printf '  large    velmora %10.0f rows/s    psql -qAt %8.0f rows/s (median of %d) ratio %s\n' \
    "$vl" "$pl" "$large_runs" "$(ratio "$vl" "$pl")"

  vc=$(velmora_field connect "$clients" calls_per_s)
  pc=$(pgbench_tps "$pg_port" "$work/clock.sql" -C)
  bc=$(pgbench_tps "$bouncer_port" "$work/clock.sql" -C)
  connect_ratios+=("$(py "print($vc / $pc)")")
  bouncer_ratios+=("$(py "print($vc / $bc)")")
  printf '  connect  velmora %10.1f cycles/s  pgbench -C %7.1f tps, via pgbouncer %7.1f tps  ratio %s, %s\n' \
    "$vc" "$pc" "$bc" "$(ratio "$vc" "$pc")" "$(ratio "$vc" "$bc")"
done
echo "== medians of $rounds rounds (load average at the end $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%s\n' "${summary[@]}" | py '
import statistics, sys
rows = [list(map(float, l.split())) for l in sys.stdin if l.strip()]
m = [statistics.median(c) for c in zip(*rows)]
print(f"  small    velmora {m[0]:.1f} calls/s, p50 {m[1]:.0f} us, p99 {m[2]:.0f} us; "
      f"pgbench {m[5]:.1f} tps, p50 {m[6]:.0f} us, p99 {m[7]:.0f} us")
print(f"           CPU us per call: velmora server {m[3]:.1f}, client {m[4]:.1f} "
      f"(client/server {m[4] / m[3]:.2f}); postgres {m[8]:.1f}, pgbench {m[9]:.1f} "
      f"(client/server {m[9] / m[8]:.2f})")'
printf '  ratio small (velmora / pgbench)            %sx\n' "$(median "${small_ratios[@]}")"
printf '  ratio large (velmora / psql -qAt)          %sx\n' "$(median "${large_ratios[@]}")"
printf '  ratio connect (velmora / pgbench -C)       %sx\n' "$(median "${connect_ratios[@]}")"
printf '  ratio connect (velmora / via pgbouncer)    %sx\n' "$(median "${bouncer_ratios[@]}")"
echo "== velmora server memory: RSS at start $rss_start KiB, peak (VmHWM) $(vm_kib VmHWM) KiB"
