#!/usr/bin/env bash
# Connect cycles against a real `velmora --headless` on 127.0.0.1 (not run by CTest): rounds of
# velmora-bench's connect workload (connect, log in, GetServerDateTime, disconnect) until CYCLES
# cycles have run, with the server's resident memory after each round. Every cycle adds a row to
# the online-user table and removes it again, so the memory must stay flat.
# Usage: bench/rpc/connect_cycles.sh [bin folder]   (default build/bin; CYCLES=100000 CLIENTS=4)
set -euo pipefail
bin=${1:-build/bin}
cycles=${CYCLES:-100000}
clients=${CLIENTS:-4}
dir=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[CONFIG]\r\nSVROPENPORT=%s\r\nSVRUSERNAME=admin\r\nSVRPASSWORD=cycles\r\n' "$port" > "$dir/CONFIG.CFG"
printf 'DriverID=SQLite\r\nDatabase=%s/cycles.db\r\nCreateDatabase=Yes\r\n' "$dir" > "$dir/DataBase.CFG"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 \
  "$bin/velmora" --headless --app-dir "$dir" > "$dir/out.log" 2> "$dir/err.log" &
pid=$!
for _ in $(seq 100); do grep -q "端口" "$dir/out.log" 2>/dev/null && break; sleep 0.1; done
rss() { awk '/^VmRSS/ {print $2}' "/proc/$pid/status"; }
echo "server RSS at start: $(rss) KiB"
done_cycles=0
round=0
start=$(date +%s.%N)
while [ "$done_cycles" -lt "$cycles" ]; do
  round=$((round + 1))
  calls=$("$bin/velmora-bench" --host 127.0.0.1 --port "$port" --user admin --password cycles \
    --workload connect --clients "$clients" --seconds 2 --json |
    python3 -c 'import json,sys; r=json.loads(sys.stdin.readline()); print(r["calls"], r["errors"], round(r["calls_per_s"]))')
  read -r n errors per_s <<< "$calls"
  done_cycles=$((done_cycles + n))
  echo "round $round: $n cycles ($per_s/s, $errors errors), $done_cycles in all; server RSS $(rss) KiB"
done
end=$(date +%s.%N)
echo "$done_cycles cycles in $(python3 -c "print(round($end - $start, 1))") s; server RSS at end: $(rss) KiB"
kill -TERM "$pid"
wait "$pid" || true
pid=
