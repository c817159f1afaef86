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
# cluster (scripts/pg-cluster.sh); the set-up is bench/common/peers.sh's.
#
# Usage: bench/peers/compare_postgres.sh [bin folder]       (default build-rel/bin)
#   CLIENTS=8 SECONDS_EACH=5 ROUNDS=5 LARGE_RUNS=5 ROWS=100000
# Build: cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON
#        cmake --build build-rel --target velmora velmora-bench
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build-rel/bin}" && pwd)
clients=${CLIENTS:-8}
seconds=${SECONDS_EACH:-5}
rounds=${ROUNDS:-5}
large_runs=${LARGE_RUNS:-5}
rows=${ROWS:-100000}
# shellcheck source=bench/common/peers.sh
. "$here/../common/peers.sh"

echo "== setting up ($rows rows each side) in $work"
peers_start_pg
peers_start_bouncer
# Velmora on SQLite holding the same rows.
mkdir -p "$work/velmora"
python3 "$here/big_table.py" sqlite "$work/velmora/bench.db" "$rows"
peers_start_velmora "DriverID=SQLite" "Database=$work/velmora/bench.db"
printf 'SELECT now();\n' >"$work/clock.sql"

# CPU seconds (user + system) of a process, with the children it has reaped.
cpu_s() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13 + $14 + $15) / hz }' "/proc/$1/stat"
}
# Runs a command with its output in $work/timed.out and its CPU seconds (its own and its
# children's, user + system) in $work/timed.cpu.
timed() {
  local t
  t=$({ TIMEFORMAT='%U %S'; time "$@" >"$work/timed.out" 2>"$work/timed.err"; } 2>&1) ||
    { cat "$work/timed.err" >&2; return 1; }
  awk '{print $1 + $2}' <<<"$t" >"$work/timed.cpu"
}

# pgbench's tps line; -C runs report the figure that includes the connections.
pgbench_tps() {
  local port=$1 script=$2
  shift 2
  pgbench -n -h 127.0.0.1 -p "$port" -c "$clients" -j "$clients" -T "$seconds" -f "$script" "$@" bench |
    awk '/^tps = / {print $3; exit}'
}
vm_kib() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$velmora_pid/status"; }

# The one-row pair of a round (pgbench on the simple protocol, direct); prints "v_calls v_p50
# v_p99 v_server v_client p_tps p_p50 p_p99 p_server p_client" (latencies in microseconds, CPU in
# microseconds per call).
small_pair() {
  local s0 s1 vcpu p0 p1 pcpu
  s0=$(cpu_s "$velmora_pid")
  timed velmora_json small "$clients"
  cp "$work/timed.out" "$work/velmora.json"
  vcpu=$(cat "$work/timed.cpu")
  s1=$(cpu_s "$velmora_pid")
  p0=$(cpu_s "$pg_pid")
  timed pgbench_one_row "$pg_port"
  pcpu=$(cat "$work/timed.cpu")
  sleep 0.3 # the postmaster reaps the ended backends
  p1=$(cpu_s "$pg_pid")
  read -r tps pp50 pp99 n <<<"$(pgbench_figures)"
  WORK=$work py "
import json, os, sys
v = json.loads(open(os.environ['WORK'] + '/velmora.json').readline())
if v['errors']: sys.exit(str(v['errors']) + ' errors in small')
print(v['calls_per_s'], v['p50_us'], v['p99_us'], 1e6 * ($s1 - $s0) / v['calls'],
      1e6 * $vcpu / v['calls'], $tps, $pp50, $pp99, 1e6 * ($p1 - $p0) / $n, 1e6 * $pcpu / $n)"
}

echo "== machine: $(nproc) CPUs, load average $(load_average); $clients clients, $seconds s each, $rounds rounds"
rss_start=$(vm_kib VmRSS)
small_ratios=() large_ratios=() connect_ratios=() bouncer_ratios=() summary=()
for round in $(seq "$rounds"); do
  echo "-- round $round (load average $(load_average))"
  read -r v vp50 vp99 vsrv vcli p pp50 pp99 psrv pcli <<<"$(small_pair)"
  small_ratios+=("$(py "print($v / $p)")")
  printf '  small    velmora %10.1f calls/s   pgbench %10.1f tps            ratio %s\n' "$v" "$p" "$(ratio "$v" "$p")"
  printf '           p50/p99 us: velmora %s / %s, pgbench %s / %s\n' "$vp50" "$vp99" "$pp50" "$pp99"
  printf '           CPU us per call: velmora server %.1f, client %.1f; postgres %.1f, pgbench %.1f\n' \
    "$vsrv" "$vcli" "$psrv" "$pcli"
  summary+=("$v $vp50 $vp99 $vsrv $vcli $p $pp50 $pp99 $psrv $pcli")

  vl=$(velmora_field large 1 rows_per_s)
  runs=()
  for _ in $(seq "$large_runs"); do runs+=("$(psql_rows_per_s "$pg_port")"); done
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
echo "== medians of $rounds rounds (load average at the end $(load_average))"
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
