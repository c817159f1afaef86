#!/usr/bin/env bash
# velmora-bench against a real `velmora --headless` on PostgreSQL, beside PostgreSQL's own tools on
# the same table in the same run (not run by CTest): a throwaway cluster, BIG_TABLE with 100,000
# rows shaped as the SQLite fixture's, then for the one-row and the 100,000-row query:
#   velmora-bench --host (the whole path: client, RPC, server, PG driver, packet, zlib),
#   pgbench with a script file (libpq straight to the server, extended protocol as the driver),
#   psql (one session, output to /dev/null).
# Usage: bench/db/pg_compare.sh [bin folder]   (default build-rel/bin; SECS=10 CLIENTS="1 8")
set -euo pipefail
bin=${1:-build-rel/bin}
secs=${SECS:-10}
clients_list=${CLIENTS:-1 8}
root=$(cd "$(dirname "$0")/../.." && pwd)
dir=$(mktemp -d /tmp/velmora-pgcmp-XXXXXX)
chmod 755 "$dir"
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
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

printf '\\set id random(1, 100000)\nSELECT * FROM big_table WHERE id = :id;\n' > "$dir/small.sql"
printf 'SELECT * FROM big_table;\n' > "$dir/large.sql"

for workload in small large; do
  for clients in $clients_list; do
    echo "== $workload, $clients client(s), $secs s"
    "$bin/velmora-bench" --host 127.0.0.1 --port "$port" --workload "$workload" \
      --clients "$clients" --seconds "$secs" --json |
      python3 -c 'import json,sys; r=json.loads(sys.stdin.readline()); print("velmora-bench: %.1f calls/s, p50 %d us, p99 %d us, %d errors" % (r["calls_per_s"], r["p50_us"], r["p99_us"], r["errors"]))'
    pgbench -n -M extended -f "$dir/$workload.sql" -c "$clients" -j "$clients" -T "$secs" bench \
      2>/dev/null | awk '/^tps|latency average/ {print "pgbench: " $0}'
  done
done

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
