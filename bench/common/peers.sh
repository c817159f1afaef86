# The frame of the peer comparisons (bench/peers/compare_postgres.sh, bench/db/pg_compare.sh;
# sourced, not run): a throwaway PostgreSQL cluster holding BIG_TABLE (bench/peers/big_table.py), a
# pgbouncer (pool mode session) in front of it, a Release `velmora --headless` on the engine the
# caller names, and the measures the rounds share. Everything started is stopped and removed on
# exit, also on failure or Ctrl-C.
#
# The caller sets, before sourcing: bin (the folder of velmora and velmora-bench), clients,
# seconds, rows. Sourcing sets root, work (a temporary folder) and the functions below; the
# peers_start_* functions set pg_port, pg_pid, bouncer_port, velmora_port.

peers_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$peers_here/../.." && pwd)

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
peers_cleanup() {
  set +e
  [ -n "$velmora_pid" ] && kill -TERM "$velmora_pid" 2>/dev/null && wait "$velmora_pid" 2>/dev/null
  [ -n "$bouncer_pid" ] && kill -TERM "$bouncer_pid" 2>/dev/null && wait "$bouncer_pid" 2>/dev/null
  [ -d "$pg_dir/data" ] && "$root/scripts/pg-cluster.sh" stop "$pg_dir" >/dev/null 2>&1
  rm -rf "$work"
}
trap peers_cleanup EXIT
trap 'exit 130' INT TERM

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
py() { python3 -c "$@"; }
median() { py 'import statistics,sys; print("%.2f" % statistics.median(float(x) for x in sys.argv[1:]))' "$@"; }
ratio() { py 'import sys; a,b=float(sys.argv[1]),float(sys.argv[2]); print(f"{a/b:.2f}x" if b else "n/a")' "$1" "$2"; }
now() { date +%s.%N; }
load_average() { cut -d' ' -f1-3 /proc/loadavg; }

# The cluster and its database `bench` with BIG_TABLE of $rows rows.
peers_start_pg() {
  "$root/scripts/pg-cluster.sh" start "$pg_dir" >/dev/null
  # shellcheck disable=SC1091
  . "$pg_dir/server.env"
  export PGHOST PGPORT PGUSER
  pg_port=$PGPORT
  pg_pid=$(head -1 "$pg_dir/data/postmaster.pid")
  psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pg_port" -d postgres \
    -c "CREATE DATABASE bench TEMPLATE template0 ENCODING 'UTF8'"
  python3 "$root/bench/peers/big_table.py" pg "$rows" | PGOPTIONS="-c client_min_messages=warning" \
    psql -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$pg_port" -d bench >/dev/null
}

# A pgbouncer in front of the cluster, answering before this returns.
peers_start_bouncer() {
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
  for _ in $(seq 50); do
    psql -X -h 127.0.0.1 -p "$bouncer_port" -d bench -tAc 'select 1' >/dev/null 2>&1 && break
    sleep 0.1
  done
  psql -X -h 127.0.0.1 -p "$bouncer_port" -d bench -tAc 'select 1' >/dev/null
}

# The Velmora server in $work/velmora, on the DataBase.CFG lines given as arguments.
peers_start_velmora() {
  mkdir -p "$work/velmora/Upload"
  velmora_port=$(free_port)
  printf '[CONFIG]\r\nSVROPENPORT=%s\r\nSVRUSERNAME=bench\r\nSVRPASSWORD=bench\r\n' \
    "$velmora_port" >"$work/velmora/CONFIG.CFG"
  printf '%s\r\n' "$@" >"$work/velmora/DataBase.CFG"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM TMPDIR="$work/velmora" \
    "$bin/velmora" --headless --app-dir "$work/velmora" >"$work/velmora/out.log" 2>"$work/velmora/err.log" &
  velmora_pid=$!
  for _ in $(seq 100); do grep -q "端口" "$work/velmora/out.log" 2>/dev/null && break; sleep 0.1; done
  grep -q "端口" "$work/velmora/out.log" || { echo "velmora did not start:"; cat "$work/velmora/err.log"; exit 1; }
}

# velmora-bench's JSON line for WORKLOAD with N clients.
velmora_json() {
  "$bin/velmora-bench" --host 127.0.0.1 --port "$velmora_port" --user bench --password bench \
    --workload "$1" --clients "$2" --seconds "$seconds" --json
}
# One field of velmora-bench's figures for WORKLOAD with N clients; a run with errors fails.
velmora_field() {
  velmora_json "$1" "$2" | py "import json,sys; r=json.loads(sys.stdin.readline()); e=r['errors']; \
print(r['$3']) if e == 0 else sys.exit(f'{e} errors in $1')"
}

# The one-row script for pgbench: a random key of BIG_TABLE.
printf '\\set id random(1, %d)\nSELECT * FROM big_table WHERE id = :id;\n' "$rows" >"$work/one_row.sql"

# Runs pgbench's one-row script at PORT with $clients clients for $seconds (further arguments go
# to pgbench), its output in $work/pgbench.out; it logs one transaction in ten for its latencies,
# which keeps the log's cost out of its throughput (logging every one costs about half of it).
# Prefix it with `timed` to have its CPU too.
pgbench_one_row() {
  local port=$1
  shift
  rm -f "$work"/pgb.*
  (cd "$work" && pgbench -n -h 127.0.0.1 -p "$port" -c "$clients" -j "$clients" -T "$seconds" \
    -f "$work/one_row.sql" -l --sampling-rate=0.1 --log-prefix=pgb "$@" bench \
    >"$work/pgbench.out" 2>"$work/pgbench.err")
}
# "tps p50 p99 transactions" of the last pgbench_one_row (latencies in microseconds).
pgbench_figures() {
  WORK=$work py '
import glob, os
w = os.environ["WORK"]
lat = sorted(int(l.split()[2]) for f in glob.glob(w + "/pgb.*") for l in open(f))
out = open(w + "/pgbench.out").read().splitlines()
tps = next(float(l.split()[2]) for l in out if l.startswith("tps = "))
n = next(int(l.split()[-1]) for l in out if l.startswith("number of transactions actually"))
q = lambda p: lat[min(len(lat) - 1, int(p * len(lat)))]
print(tps, q(0.50), q(0.99), n)'
}

# Rows per second of one `psql -qAt` reading all of BIG_TABLE at PORT, its output thrown away.
psql_rows_per_s() {
  local start end
  start=$(now)
  psql -X -qAt -h 127.0.0.1 -p "$1" -d bench -c 'select * from big_table' >/dev/null
  end=$(now)
  py "print($rows / ($end - $start))"
}
