#!/usr/bin/env bash
# velmora-bench against a real `velmora --headless` on PostgreSQL, beside PostgreSQL's own tools on
# the same table in the same run (not run by CTest): a throwaway cluster, BIG_TABLE with 100,000
# rows shaped as the SQLite fixture's, a pgbouncer (pool mode session) in front of it, then ROUNDS
# interleaved rounds, each running every pair once, Velmora first and its peers right after:
#   one row by key, CLIENTS clients: velmora-bench --host (the whole path: client, RPC, server, PG
#     driver, packet) against pgbench with a script file (extended protocol, as the driver) through
#     pgbouncer and direct; calls/s, p50 and p99 of each;
#   100,000 rows, 1 client: velmora-bench's rows/s against `psql -qAt` (output to /dev/null)
#     through pgbouncer and direct.
# The ratios are printed per round and as the median of the rounds; then psql's own figures for
# many statements in one session.
# Usage: bench/db/pg_compare.sh [bin folder]   (default build-rel/bin; SECS=5 CLIENTS=8 ROUNDS=5)
set -euo pipefail
bin=${1:-build-rel/bin}
secs=${SECS:-5}
clients=${CLIENTS:-8}
rounds=${ROUNDS:-5}
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d /tmp/velmora-pgcmp-XXXXXX)
chmod 755 "$dir"
pid=
bouncer_pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$bouncer_pid" ] && kill "$bouncer_pid" 2>/dev/null
  bash "$root/scripts/pg-cluster.sh" stop "$dir/pg" > /dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT
bash "$root/scripts/pg-cluster.sh" start "$dir/pg" > /dev/null
set -a; . "$dir/pg/server.env"; set +a
psql -X -q -d postgres -c "CREATE DATABASE bench TEMPLATE template0 ENCODING 'UTF8'"
psql -X -q -d bench -v ON_ERROR_STOP=1 <<'SQL'
CREATE TABLE big_table (id integer PRIMARY KEY, name varchar(40) NOT NULL, amount numeric(12,2),
  price real, created timestamp, note text, flag boolean, data bytea);
INSERT INTO big_table
SELECT g,
  CASE WHEN g % 10 = 0 THEN '名称 ' || g || ' ü' ELSE 'Name ' || g END,
  (g * 125 % 100000) / 100.0, g * 0.5,
  make_timestamp(2000 + g % 30, g % 12 + 1, g % 28 + 1, g % 24, g % 60, g % 59),
  CASE WHEN g % 7 = 0 THEN NULL ELSE 'Note for row ' || g || ' with some text to carry' END,
  g % 2 = 1,
  CASE WHEN g % 5 = 0 THEN (SELECT decode(string_agg(lpad(to_hex((g * 7 + k) % 256), 2, '0'), ''
    ORDER BY k), 'hex') FROM generate_series(0, 15) k) END
FROM generate_series(1, 100000) g;
VACUUM ANALYZE big_table;
SQL

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[CONFIG]\r\nSVROPENPORT=%s\r\nSVRUSERNAME=bench\r\nSVRPASSWORD=bench\r\n' "$port" > "$dir/CONFIG.CFG"
printf 'DriverID=PG\r\nServer=127.0.0.1\r\nPort=%s\r\nDatabase=bench\r\nUser_Name=%s\r\n' \
  "$PGPORT" "$PGUSER" > "$dir/DataBase.CFG"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  "$bin/velmora" --headless --app-dir "$dir" > "$dir/out.log" 2> "$dir/err.log" &
pid=$!
for _ in $(seq 100); do grep -q "端口" "$dir/out.log" 2>/dev/null && break; sleep 0.1; done

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
bouncer_port=$(free_port)
mkdir -p "$dir/bouncer"
printf '"postgres" ""\n' > "$dir/bouncer/users.txt"
cat > "$dir/bouncer/pgbouncer.ini" <<INI
[databases]
bench = host=127.0.0.1 port=$PGPORT dbname=bench user=postgres
[pgbouncer]
listen_addr = 127.0.0.1
listen_port = $bouncer_port
unix_socket_dir =
auth_type = trust
auth_file = $dir/bouncer/users.txt
pool_mode = session
max_client_conn = 500
default_pool_size = $((clients + 4))
logfile = $dir/bouncer/pgbouncer.log
log_connections = 0
log_disconnections = 0
INI
chown -R postgres "$dir/bouncer" 2>/dev/null || true
if [ "$(id -u)" -eq 0 ]; then
  pgbouncer -u postgres "$dir/bouncer/pgbouncer.ini" > /dev/null 2>&1 &
else
  pgbouncer "$dir/bouncer/pgbouncer.ini" > /dev/null 2>&1 &
fi
bouncer_pid=$!
for _ in $(seq 50); do
  psql -X -h 127.0.0.1 -p "$bouncer_port" -d bench -tAc 'select 1' > /dev/null 2>&1 && break
  sleep 0.1
done
psql -X -h 127.0.0.1 -p "$bouncer_port" -d bench -tAc 'select 1' > /dev/null

printf '\\set id random(1, 100000)\nSELECT * FROM big_table WHERE id = :id;\n' > "$dir/small.sql"
py() { python3 -c "$@"; }
median() { py 'import statistics,sys; print("%.2f" % statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }

# "calls/s p50 p99" of a velmora-bench run.
velmora_small() {
  "$bin/velmora-bench" --host 127.0.0.1 --port "$port" --workload small --clients "$clients" \
    --seconds "$secs" --json |
    py 'import json,sys; r=json.loads(sys.stdin.readline()); e=r["errors"]; sys.exit(f"{e} errors") if e else print(r["calls_per_s"], r["p50_us"], r["p99_us"])'
}
velmora_large_rows() {
  "$bin/velmora-bench" --host 127.0.0.1 --port "$port" --workload large --clients 1 \
    --seconds "$secs" --json |
    py 'import json,sys; r=json.loads(sys.stdin.readline()); e=r["errors"]; sys.exit(f"{e} errors") if e else print(r["rows_per_s"])'
}
# "tps p50 p99" of a pgbench run at a port, p50 and p99 from its log of one transaction in ten
# (logging every one costs pgbench about half its throughput here).
pgbench_small() {
  rm -f "$dir"/pgb.*
  (cd "$dir" && pgbench -n -M extended -h 127.0.0.1 -p "$1" -f "$dir/small.sql" -c "$clients" \
    -j "$clients" -T "$secs" -l --sampling-rate=0.1 --log-prefix=pgb bench 2> /dev/null) \
    > "$dir/pgbench.out"
  DIR=$dir py '
import glob, os
d = os.environ["DIR"]
lat = sorted(int(l.split()[2]) for f in glob.glob(d + "/pgb.*") for l in open(f))
tps = next(float(l.split()[2]) for l in open(d + "/pgbench.out") if l.startswith("tps = "))
print(tps, lat[len(lat) // 2], lat[min(len(lat) - 1, int(0.99 * len(lat)))])'
}
psql_large_rows() {
  local start end
  start=$(date +%s.%N)
  psql -X -qAt -h 127.0.0.1 -p "$1" -d bench -c 'SELECT * FROM big_table' > /dev/null
  end=$(date +%s.%N)
  py "print(100000 / ($end - $start))"
}

echo "== $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg); $clients clients, $secs s each, $rounds rounds"
r_bouncer=() r_direct=() r_large_bouncer=() r_large_direct=()
for round in $(seq "$rounds"); do
  echo "-- round $round (load average $(cut -d' ' -f1-3 /proc/loadavg))"
  read -r v vp50 vp99 <<< "$(velmora_small)"
  read -r b bp50 bp99 <<< "$(pgbench_small "$bouncer_port")"
  read -r d dp50 dp99 <<< "$(pgbench_small "$PGPORT")"
  r_bouncer+=("$(py "print($v / $b)")")
  r_direct+=("$(py "print($v / $d)")")
  printf '  one row   velmora %8.1f calls/s (p50 %s, p99 %s us)  pgbench via pgbouncer %8.1f tps (p50 %s, p99 %s us)  direct %8.1f tps (p50 %s, p99 %s us)  ratios %.2fx, %.2fx\n' \
    "$v" "$vp50" "$vp99" "$b" "$bp50" "$bp99" "$d" "$dp50" "$dp99" "${r_bouncer[-1]}" "${r_direct[-1]}"
  vl=$(velmora_large_rows)
  lb=$(psql_large_rows "$bouncer_port")
  ld=$(psql_large_rows "$PGPORT")
  r_large_bouncer+=("$(py "print($vl / $lb)")")
  r_large_direct+=("$(py "print($vl / $ld)")")
  printf '  100k rows velmora %8.0f rows/s  psql -qAt via pgbouncer %8.0f rows/s  direct %8.0f rows/s  ratios %.2fx, %.2fx\n' \
    "$vl" "$lb" "$ld" "${r_large_bouncer[-1]}" "${r_large_direct[-1]}"
done
echo "== medians of $rounds rounds (load average at the end $(cut -d' ' -f1-3 /proc/loadavg))"
echo "  one row, velmora / pgbench via pgbouncer     $(median "${r_bouncer[@]}")x"
echo "  one row, velmora / pgbench direct            $(median "${r_direct[@]}")x"
echo "  100k rows, velmora / psql -qAt via pgbouncer $(median "${r_large_bouncer[@]}")x"
echo "  100k rows, velmora / psql -qAt direct        $(median "${r_large_direct[@]}")x"

# psql: one session, its own text output thrown away.
n_small=20000
python3 -c "
import random
random.seed(1)
print('\n'.join('SELECT * FROM big_table WHERE id = %d;' % random.randint(1, 100000) for _ in range($n_small)))" > "$dir/small_many.sql"
start=$(date +%s.%N)
psql -X -q -d bench -f "$dir/small_many.sql" > /dev/null
end=$(date +%s.%N)
python3 -c "print('psql small: %.1f queries/s (%d in one session)' % ($n_small / ($end - $start), $n_small))"
n_large=10
for _ in $(seq "$n_large"); do echo 'SELECT * FROM big_table;'; done > "$dir/large_many.sql"
start=$(date +%s.%N)
psql -X -q -d bench -f "$dir/large_many.sql" > /dev/null
end=$(date +%s.%N)
python3 -c "print('psql large: %.2f queries/s (%d in one session)' % ($n_large / ($end - $start), $n_large))"
start=$(date +%s.%N)
psql -X -q -d bench -At -c 'SELECT * FROM big_table' > /dev/null
end=$(date +%s.%N)
python3 -c "print('psql large, one unaligned run: %.3f s' % ($end - $start))"
kill -TERM "$pid"
wait "$pid" || true
pid=
