#!/usr/bin/env bash
# Several Velmora servers behind HAProxy over a replicated PostgreSQL, all on 127.0.0.1, in one
# folder (default /tmp/velmora-cluster):
#
#   PostgreSQL node 1, the primary, and node 2, a streaming standby made with pg_basebackup -R;
#   every commit waits for the standby (synchronous_standby_names='*'), so a write the primary
#   acknowledged survives the primary's loss.
#   SERVERS (default 2) headless Velmora servers, each with its own application folder and port
#   and the same DataBase.CFG: DriverID=PG over both nodes with target_session_attrs=read-write,
#   so every new database connection finds whichever node takes writes now.
#   HAProxy on one front port: TCP mode, balance leastconn, a health check of each server's
#   /health on its metrics port.
#
# Usage: cluster.sh VERB [DIR]
#   up              starts everything (a running cluster in DIR is left as it is; a broken one is
#                   removed first); prints the front port and what it started. Exits 77 when
#                   HAProxy or PostgreSQL is missing or cannot start.
#   down            stops everything it started and removes DIR; nothing to do is no error
#   status          what runs, which node is the primary
#   load            velmora-bench's one-row read workload through the front port
#                   (LOAD_CLIENTS=8, LOAD_SECONDS=10)
#   kill-server N   SIGKILL Velmora server N
#   start-server N  starts Velmora server N again (after kill-server)
#   enable-server N, disable-server N   lets HAProxy send new connections to server N, or not
#   stop-primary    stops the primary (fast shutdown: its sessions are cut)
#   promote         promotes the standby and clears its synchronous_standby_names, which it copied
#                   from the primary and would otherwise make every commit wait for a standby it
#                   does not have; prints PROMOTED_AT=<Unix time> of the moment it took writes
#   fail-over       stop-primary, then promote
#   sql "SQL"       runs SQL with psql on the node that takes writes now (database velmora)
#   pids            one line per process: name pid (for CPU accounting)
#
# Programs: VELMORA_PROGRAM (default build/bin/velmora), VELMORA_BENCH (default
# build/bin/velmora-bench). The service account is CLUSTER_USER / CLUSTER_PASSWORD (default
# velmora / velmora). As root, PostgreSQL runs as the postgres system user (it refuses root);
# Velmora and HAProxy run as the caller. Trust authentication and no fsync: test data only.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
verb=${1:?usage: cluster.sh up|down|status|load|kill-server N|start-server N|stop-primary|promote|fail-over|sql SQL [DIR]}
shift
arg=
case "$verb" in
  kill-server | start-server | enable-server | disable-server | sql)
    arg=${1:?cluster.sh $verb needs an argument}
    shift
    ;;
esac
dir=${1:-/tmp/velmora-cluster}
env_file=$dir/cluster.env

program=${VELMORA_PROGRAM:-$root/build/bin/velmora}
bench=${VELMORA_BENCH:-$root/build/bin/velmora-bench}
user=${CLUSTER_USER:-velmora}
password=${CLUSTER_PASSWORD:-velmora}

say() { echo "cluster.sh: $*"; }
fail() {
  echo "cluster.sh: $*" >&2
  exit 1
}
cannot_start() {
  echo "cluster.sh: cannot start: $*" >&2
  exit 77
}

pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1; }
as_pg() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null; }
pg_pid() { [ -f "$dir/pg$1/data/postmaster.pid" ] && head -1 "$dir/pg$1/data/postmaster.pid" || true; }
load_env() {
  [ -f "$env_file" ] || fail "no cluster in $dir (run: cluster.sh up $dir)"
  # shellcheck disable=SC1090
  . "$env_file"
}
server_pid() { cat "$dir/s$1/server.pid" 2>/dev/null || true; }
psql_on() {  # node, then psql arguments
  local port_var=PG$1_PORT
  "$(pg_bin)/psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "${!port_var}" -U postgres "${@:2}"
}
# The node that takes writes now: the one that answers and is not in recovery.
writable_node() {
  local n
  for n in 1 2; do
    if [ "$(psql_on "$n" -d postgres -At -c 'SELECT NOT pg_is_in_recovery()' 2>/dev/null)" = t ]; then
      echo "$n"
      return 0
    fi
  done
  return 1
}
# HAProxy's runtime interface (its admin socket), without socat.
haproxy_command() {
  python3 - "$dir/haproxy.sock" "$1" <<'PY'
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
s.sendall((sys.argv[2] + "\n").encode())
out = b""
while chunk := s.recv(4096):
    out += chunk
sys.stdout.write(out.decode())
PY
}

pg_start_node() {  # node port
  local n=$1 port=$2
  as_pg "$(pg_bin)/pg_ctl" -D "$dir/pg$n/data" -l "$dir/pg$n/server.log" -w -t 60 \
    -o "-p $port -k $dir/pg$n -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off -c max_connections=200 -c wal_level=replica -c max_wal_senders=4 -c hot_standby=on" \
    start >/dev/null
}

start_server() {  # n
  local n=$1 folder=$dir/s$1
  # A copy of the program is told its folder; its single-copy socket is named after that folder,
  # so the servers of one machine never hand over to each other.
  setsid "$program" --headless --app-dir "$folder" >"$folder/server.log" 2>&1 </dev/null &
  echo $! >"$folder/server.pid"
}

wait_for_log() {  # file text seconds
  local i
  for ((i = 0; i < $3 * 10; i++)); do
    grep -qF "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

do_status() {
  load_env
  local n role
  for n in 1 2; do
    role=down
    if alive "$(pg_pid "$n")"; then
      case "$(psql_on "$n" -d postgres -At -c 'SELECT pg_is_in_recovery()' 2>/dev/null || true)" in
        t) role=standby ;;
        f) role=primary ;;
        *) role="not answering" ;;
      esac
    fi
    local port_var=PG${n}_PORT
    say "PostgreSQL node $n on 127.0.0.1:${!port_var}: $role"
  done
  for ((n = 1; n <= SERVERS; n++)); do
    local port_var=SERVER${n}_PORT metrics_var=SERVER${n}_METRICS_PORT state=stopped
    alive "$(server_pid "$n")" && state="running (pid $(server_pid "$n"))"
    say "Velmora server $n on 127.0.0.1:${!port_var} (health http://127.0.0.1:${!metrics_var}/health): $state"
  done
  local hstate=stopped
  alive "$(cat "$dir/haproxy.pid" 2>/dev/null || true)" && hstate=running
  say "HAProxy front 127.0.0.1:$FRONT_PORT: $hstate"
}

do_down() {
  [ -d "$dir" ] || return 0
  local f pid n
  # Velmora first (it would log every lost database connection), then HAProxy, then PostgreSQL.
  for f in "$dir"/s*/server.pid "$dir/haproxy.pid"; do
    [ -f "$f" ] || continue
    pid=$(cat "$f")
    if alive "$pid"; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 1 50); do alive "$pid" || break; sleep 0.1; done
      alive "$pid" && kill -KILL "$pid" 2>/dev/null || true
    fi
  done
  for n in 1 2; do
    if [ -f "$dir/pg$n/data/postmaster.pid" ]; then
      as_pg "$(pg_bin)/pg_ctl" -D "$dir/pg$n/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
  done
  rm -rf "$dir"
  say "stopped everything in $dir and removed it"
}

all_running() {
  [ -f "$env_file" ] || return 1
  # shellcheck disable=SC1090
  . "$env_file"
  local n
  alive "$(cat "$dir/haproxy.pid" 2>/dev/null || true)" || return 1
  for ((n = 1; n <= SERVERS; n++)); do alive "$(server_pid "$n")" || return 1; done
  writable_node >/dev/null || return 1
}

do_up() {
  if all_running; then
    say "already running in $dir"
    do_status
    echo "FRONT_PORT=$FRONT_PORT"
    return 0
  fi
  local servers=${SERVERS:-2}
  [[ $servers =~ ^[1-9]$ ]] || fail "SERVERS must be 1 to 9"
  command -v haproxy >/dev/null || cannot_start "haproxy is not installed (bash scripts/setup.sh)"
  [ -x "$(pg_bin)/pg_ctl" ] || cannot_start "the PostgreSQL server programs are not installed (bash scripts/setup.sh)"
  [ -x "$program" ] || fail "no Velmora program at $program (build it, or set VELMORA_PROGRAM)"
  # A cluster of which a part no longer runs is not repaired but made anew.
  [ -d "$dir" ] && do_down >/dev/null

  mkdir -p "$dir"
  chmod 0755 "$dir"
  local pg1 pg2 front
  pg1=$(free_port)
  pg2=$(free_port)
  front=$(free_port)
  {
    echo "SERVERS=$servers"
    echo "PG1_PORT=$pg1"
    echo "PG2_PORT=$pg2"
    echo "FRONT_PORT=$front"
    echo "CLUSTER_USER=$user"
    echo "CLUSTER_PASSWORD=$password"
  } >"$env_file"

  # The primary, its database and BIG_TABLE (the bench's one-row reads), then synchronous commit.
  mkdir -p "$dir/pg1" "$dir/pg2"
  [ "$(id -u)" -eq 0 ] && chown postgres "$dir/pg1" "$dir/pg2"
  as_pg "$(pg_bin)/initdb" -D "$dir/pg1/data" -A trust -U postgres -E UTF8 --no-locale >/dev/null ||
    cannot_start "initdb failed"
  printf 'host replication postgres 127.0.0.1/32 trust\n' >>"$dir/pg1/data/pg_hba.conf"
  pg_start_node 1 "$pg1" || cannot_start "the PostgreSQL primary did not start ($dir/pg1/server.log)"
  # shellcheck disable=SC1090
  . "$env_file"
  psql_on 1 -d postgres -c 'CREATE DATABASE velmora'
  python3 "$root/bench/peers/big_table.py" pg "${ROWS:-100000}" |
    PGOPTIONS="-c client_min_messages=warning" psql_on 1 -d velmora >/dev/null
  psql_on 1 -d postgres -c "ALTER SYSTEM SET synchronous_standby_names = '*'" -c 'SELECT pg_reload_conf()' >/dev/null

  # The standby: a copy of the primary (settings included) that follows it.
  as_pg "$(pg_bin)/pg_basebackup" -h 127.0.0.1 -p "$pg1" -U postgres -D "$dir/pg2/data" -R -X stream \
    -c fast >/dev/null || cannot_start "pg_basebackup failed"
  pg_start_node 2 "$pg2" || cannot_start "the PostgreSQL standby did not start ($dir/pg2/server.log)"
  local i
  for ((i = 0; i < 100; i++)); do
    [ "$(psql_on 1 -d postgres -At -c "SELECT count(*) FROM pg_stat_replication WHERE sync_state = 'sync'")" = 1 ] && break
    sleep 0.1
  done
  [ "$i" -lt 100 ] || cannot_start "the standby did not become synchronous ($dir/pg2/server.log)"

  # The Velmora servers: one DataBase.CFG, a folder and two ports each.
  local n port metrics backends=""
  for ((n = 1; n <= servers; n++)); do
    port=$(free_port)
    metrics=$(free_port)
    mkdir -p "$dir/s$n/Upload"
    # PoolWaitTimeoutSeconds: every connection that failed to open while the database failed
    # over kept its pool permit, and once the permits are gone each call waits this long for
    # one before going on without (the default 3 s would add up to 3 s to the outage).
    printf '[CONFIG]\r\nSVRUSERNAME=%s\r\nSVRPASSWORD=%s\r\nSVROPENPORT=%s\r\nSVRStart=0\r\n[Metrics]\r\nAddress=127.0.0.1\r\nPort=%s\r\n[Limits]\r\nPoolWaitTimeoutSeconds=%s\r\n' \
      "$user" "$password" "$port" "$metrics" "${POOL_WAIT_SECONDS:-1}" >"$dir/s$n/CONFIG.CFG"
    printf 'DriverID=PG\r\nServer=127.0.0.1,127.0.0.1\r\nPort=%s,%s\r\nDatabase=velmora\r\nUser_Name=postgres\r\ntarget_session_attrs=read-write\r\nconnect_timeout=2\r\n' \
      "$pg1" "$pg2" >"$dir/s$n/DataBase.CFG"
    echo "SERVER${n}_PORT=$port" >>"$env_file"
    echo "SERVER${n}_METRICS_PORT=$metrics" >>"$env_file"
    start_server "$n"
    # A quick health check: a dead server is out within a second, a recovered one back at the
    # first good answer (while the database fails over, every server answers 503).
    backends+="    server s$n 127.0.0.1:$port check port $metrics inter 1s fastinter 200ms downinter 200ms fall 2 rise 1"$'\n'
  done
  # shellcheck disable=SC1090
  . "$env_file"
  for ((n = 1; n <= servers; n++)); do
    local port_var=SERVER${n}_PORT
    wait_for_log "$dir/s$n/server.log" "端口：${!port_var}" 60 ||
      fail "Velmora server $n did not start: $(tail -5 "$dir/s$n/server.log")"
  done

  cat >"$dir/haproxy.cfg" <<CFG
global
    maxconn 2000
    stats socket $dir/haproxy.sock mode 600 level admin
    log stdout format raw local0 info
defaults
    mode tcp
    log global
    option tcplog
    timeout connect 1s
    timeout client 1h
    timeout server 1h
    timeout check 2s
    # A connection refused by a server that just died goes to another one.
    retries 3
    option redispatch 1
frontend velmora
    bind 127.0.0.1:$front
    default_backend servers
backend servers
    balance leastconn
    option httpchk GET /health
    http-check expect status 200
$backends
CFG
  haproxy -c -q -f "$dir/haproxy.cfg" || cannot_start "HAProxy rejects its configuration ($dir/haproxy.cfg)"
  # In the foreground of a process of its own, so that its log (connections, servers going down
  # and up) lands in haproxy.log.
  setsid haproxy -db -f "$dir/haproxy.cfg" >"$dir/haproxy.log" 2>&1 </dev/null &
  echo $! >"$dir/haproxy.pid"
  for ((i = 0; i < 100; i++)); do
    [ -S "$dir/haproxy.sock" ] && break
    alive "$(cat "$dir/haproxy.pid")" || cannot_start "HAProxy did not start: $(tail -3 "$dir/haproxy.log")"
    sleep 0.1
  done
  say "PostgreSQL primary 127.0.0.1:$pg1, synchronous standby 127.0.0.1:$pg2 (database velmora)"
  for ((n = 1; n <= servers; n++)); do
    local port_var=SERVER${n}_PORT metrics_var=SERVER${n}_METRICS_PORT
    say "Velmora server $n: 127.0.0.1:${!port_var}, pid $(server_pid "$n"), folder $dir/s$n, health http://127.0.0.1:${!metrics_var}/health"
  done
  say "HAProxy pid $(cat "$dir/haproxy.pid"), account $user / $password"
  echo "FRONT_PORT=$front"
}

case "$verb" in
  up) do_up ;;
  down) do_down ;;
  status) do_status ;;
  load)
    load_env
    [ -x "$bench" ] || fail "no velmora-bench at $bench (build it, or set VELMORA_BENCH)"
    "$bench" --host 127.0.0.1 --port "$FRONT_PORT" --user "$CLUSTER_USER" --password "$CLUSTER_PASSWORD" \
      --workload small --clients "${LOAD_CLIENTS:-8}" --seconds "${LOAD_SECONDS:-10}" ${LOAD_JSON:+--json}
    ;;
  kill-server)
    load_env
    pid=$(server_pid "$arg")
    alive "$pid" || fail "Velmora server $arg is not running"
    kill -KILL "$pid"
    while alive "$pid"; do sleep 0.01; done
    say "Velmora server $arg (pid $pid) killed"
    ;;
  start-server)
    load_env
    alive "$(server_pid "$arg")" && { say "Velmora server $arg already runs"; exit 0; }
    start_server "$arg"
    port_var=SERVER${arg}_PORT
    wait_for_log "$dir/s$arg/server.log" "端口：${!port_var}" 60 || fail "Velmora server $arg did not start"
    say "Velmora server $arg started, pid $(server_pid "$arg")"
    ;;
  enable-server | disable-server)
    load_env
    [ "$verb" = enable-server ] && state=ready || state=maint
    haproxy_command "set server servers/s$arg state $state" >/dev/null
    say "HAProxy server s$arg: $state"
    ;;
  stop-primary | fail-over)
    load_env
    node=$(writable_node) || fail "no node takes writes"
    as_pg "$(pg_bin)/pg_ctl" -D "$dir/pg$node/data" -m fast -w stop >/dev/null
    say "PostgreSQL node $node (the primary) stopped"
    if [ "$verb" = fail-over ]; then exec bash "${BASH_SOURCE[0]}" promote "$dir"; fi
    ;;
  promote)
    load_env
    standby=
    for n in 1 2; do
      alive "$(pg_pid "$n")" &&
        [ "$(psql_on "$n" -d postgres -At -c 'SELECT pg_is_in_recovery()' 2>/dev/null)" = t ] && standby=$n
    done
    [ -n "$standby" ] || fail "no running standby to promote"
    # The setting goes first (a standby takes ALTER SYSTEM and ignores the setting): promoted
    # with it, the node would hold every commit until a standby of its own confirms it.
    psql_on "$standby" -d postgres -c 'ALTER SYSTEM RESET synchronous_standby_names' \
      -c 'SELECT pg_reload_conf()' >/dev/null
    as_pg "$(pg_bin)/pg_ctl" -D "$dir/pg$standby/data" -w promote >/dev/null
    promoted_at=$(date +%s.%N)
    say "PostgreSQL node $standby promoted (it takes writes now, without a standby)"
    echo "PROMOTED_AT=$promoted_at"
    ;;
  sql)
    load_env
    node=$(writable_node) || fail "no node takes writes"
    psql_on "$node" -d velmora -At -c "$arg"
    ;;
  pids)
    load_env
    for n in 1 2; do alive "$(pg_pid "$n")" && echo "postgres$n $(pg_pid "$n")"; done
    for ((n = 1; n <= SERVERS; n++)); do alive "$(server_pid "$n")" && echo "velmora$n $(server_pid "$n")"; done
    alive "$(cat "$dir/haproxy.pid" 2>/dev/null || true)" && echo "haproxy $(cat "$dir/haproxy.pid")"
    ;;
  *) fail "unknown verb $verb" ;;
esac
