#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for tests and benchmarks.
#   pg-cluster.sh start DIR   creates DIR (if missing), a cluster in DIR/data on a free port of
#                             127.0.0.1 with its socket in DIR, starts it and writes DIR/server.env
#                             (PGHOST, PGPORT, PGUSER lines; PGHOST is the socket folder)
#   pg-cluster.sh stop DIR    stops the cluster at once and removes DIR
#   pg-cluster.sh pause DIR   stops the cluster, keeping its files (a test's "server gone")
#   pg-cluster.sh resume DIR  starts it again on the same port
# Trust authentication, no fsync: test data only. The server refuses to run as root, so as root it
# runs as the postgres system user, which must be able to enter DIR.
set -euo pipefail

action=${1:?usage: pg-cluster.sh start|stop|pause|resume DIR}
dir=${2:?usage: pg-cluster.sh start|stop|pause|resume DIR}

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1)
[ -x "$bin/pg_ctl" ] || { echo "pg-cluster.sh: PostgreSQL server programs not found" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

pg_start() {
  local port=$1
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=300" \
    start >/dev/null
}

case "$action" in
  start)
    mkdir -p "$dir"
    chmod 0755 "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --no-locale >/dev/null
    port=$(free_port)
    pg_start "$port"
    printf 'PGHOST=%s\nPGPORT=%s\nPGUSER=postgres\n' "$dir" "$port" >"$dir/server.env"
    ;;
  pause)
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null
    ;;
  resume)
    port=$(sed -n 's/^PGPORT=//p' "$dir/server.env")
    pg_start "$port"
    ;;
  stop)
    if [ -f "$dir/data/postmaster.pid" ]; then
      as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null || true
    fi
    rm -rf "$dir"
    ;;
  *)
    echo "pg-cluster.sh: unknown action $action" >&2
    exit 2
    ;;
esac
