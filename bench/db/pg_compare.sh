#!/usr/bin/env bash
# velmora-bench against a real `velmora --headless` on PostgreSQL, beside PostgreSQL's own tools on
# the same table in the same run (not run by CTest): the set-up of bench/common/peers.sh (a
# throwaway cluster, BIG_TABLE of ROWS rows, a pgbouncer in front of it), then ROUNDS interleaved
# rounds, each running every pair once, Velmora first and its peers right after:
#   one row by key, CLIENTS clients: velmora-bench --host (the whole path: client, RPC, server, PG
#     driver, packet) against pgbench with a script file (extended protocol, as the driver) through
#     pgbouncer and direct; calls/s, p50 and p99 of each;
#   100,000 rows, 1 client: velmora-bench's rows/s against `psql -qAt` (output to /dev/null)
#     through pgbouncer and direct.
# The ratios are printed per round and as the median of the rounds; then psql's own figures for
# many statements in one session.
# Usage: bench/db/pg_compare.sh [bin folder]   (default build-rel/bin; SECONDS_EACH=5 CLIENTS=8
#   ROUNDS=5 ROWS=100000; SECS is taken for SECONDS_EACH as well)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "${1:-$here/../../build-rel/bin}" && pwd)
seconds=${SECONDS_EACH:-${SECS:-5}}
clients=${CLIENTS:-8}
rounds=${ROUNDS:-5}
rows=${ROWS:-100000}
# shellcheck source=bench/common/peers.sh
. "$here/../common/peers.sh"

peers_start_pg
peers_start_bouncer
peers_start_velmora DriverID=PG Server=127.0.0.1 "Port=$pg_port" Database=bench "User_Name=$PGUSER"

# "calls/s p50 p99" of a velmora-bench one-row run.
velmora_small() {
  velmora_json small "$clients" |
    py 'import json,sys; r=json.loads(sys.stdin.readline()); e=r["errors"]; sys.exit(f"{e} errors") if e else print(r["calls_per_s"], r["p50_us"], r["p99_us"])'
}
# "tps p50 p99" of pgbench's one-row script at a port, on the extended protocol as the driver.
pgbench_small() {
  pgbench_one_row "$1" -M extended
  pgbench_figures | cut -d' ' -f1-3
}

echo "== $(nproc) CPUs, load average $(load_average); $clients clients, $seconds s each, $rounds rounds"
r_bouncer=() r_direct=() r_large_bouncer=() r_large_direct=()
for round in $(seq "$rounds"); do
  echo "-- round $round (load average $(load_average))"
  read -r v vp50 vp99 <<< "$(velmora_small)"
  read -r b bp50 bp99 <<< "$(pgbench_small "$bouncer_port")"
  read -r d dp50 dp99 <<< "$(pgbench_small "$pg_port")"
  r_bouncer+=("$(py "print($v / $b)")")
  r_direct+=("$(py "print($v / $d)")")
  printf '  one row   velmora %8.1f calls/s (p50 %s, p99 %s us)  pgbench via pgbouncer %8.1f tps (p50 %s, p99 %s us)  direct %8.1f tps (p50 %s, p99 %s us)  ratios %.2fx, %.2fx\n' \
    "$v" "$vp50" "$vp99" "$b" "$bp50" "$bp99" "$d" "$dp50" "$dp99" "${r_bouncer[-1]}" "${r_direct[-1]}"
  vl=$(velmora_field large 1 rows_per_s)
  lb=$(psql_rows_per_s "$bouncer_port")
  ld=$(psql_rows_per_s "$pg_port")
  r_large_bouncer+=("$(py "print($vl / $lb)")")
  r_large_direct+=("$(py "print($vl / $ld)")")
  printf '  100k rows velmora %8.0f rows/s  psql -qAt via pgbouncer %8.0f rows/s  direct %8.0f rows/s  ratios %.2fx, %.2fx\n' \
    "$vl" "$lb" "$ld" "${r_large_bouncer[-1]}" "${r_large_direct[-1]}"
done
echo "== medians of $rounds rounds (load average at the end $(load_average))"
echo "  one row, velmora / pgbench via pgbouncer     $(median "${r_bouncer[@]}")x"
echo "  one row, velmora / pgbench direct            $(median "${r_direct[@]}")x"
echo "  100k rows, velmora / psql -qAt via pgbouncer $(median "${r_large_bouncer[@]}")x"
echo "  100k rows, velmora / psql -qAt direct        $(median "${r_large_direct[@]}")x"

# psql: one session, its own text output thrown away.
n_small=20000
python3 -c "
import random
random.seed(1)
print('\n'.join('SELECT * FROM big_table WHERE id = %d;' % random.randint(1, $rows) for _ in range($n_small)))" > "$work/small_many.sql"
start=$(now)
psql -X -q -h 127.0.0.1 -p "$pg_port" -d bench -f "$work/small_many.sql" > /dev/null
end=$(now)
python3 -c "print('psql small: %.1f queries/s (%d in one session)' % ($n_small / ($end - $start), $n_small))"
n_large=10
for _ in $(seq "$n_large"); do echo 'SELECT * FROM big_table;'; done > "$work/large_many.sql"
start=$(now)
psql -X -q -h 127.0.0.1 -p "$pg_port" -d bench -f "$work/large_many.sql" > /dev/null
end=$(now)
python3 -c "print('psql large: %.2f queries/s (%d in one session)' % ($n_large / ($end - $start), $n_large))"
start=$(now)
psql -X -q -h 127.0.0.1 -p "$pg_port" -d bench -At -c 'SELECT * FROM big_table' > /dev/null
end=$(now)
python3 -c "print('psql large, one unaligned run: %.3f s' % ($end - $start))"
