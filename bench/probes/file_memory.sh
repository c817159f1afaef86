#!/usr/bin/env bash
# Peak resident memory (VmHWM) of a headless `velmora` moving one file, seen from outside: a file
# of MIB MiB (half text-like lines, half random bytes) downloaded once from a fresh server, then
# uploaded once to another fresh server, with velmora-cli. Prints, for each direction, the server's
# resident memory before the call (VmRSS), its peak after it, the growth and the whole peak as
# multiples of the file's size, and checks that the bytes arrived unchanged.
#
#   bench/probes/file_memory.sh [BUILD_DIR]     (default build-rel; needs bin/velmora, bin/velmora-cli)
#
# Environment: MIB (64), CLIENT_TIMEOUT seconds (300). The server and client run in a network
# namespace of their own where only the loopback exists (when `unshare --net` is allowed); the
# client is bounded by `timeout` and the server is stopped with SIGTERM (SIGKILL after 10 s).
set -euo pipefail

build=$(cd "${1:-build-rel}" && pwd)
mib=${MIB:-64}
client_timeout=${CLIENT_TIMEOUT:-300}

if [ -z "${VELMORA_PROBE_NETNS:-}" ] && unshare --net true 2>/dev/null; then
  exec env VELMORA_PROBE_NETNS=1 unshare --net bash -c 'ip link set lo up && exec bash "$0" "$@"' \
    "$0" "$build"
fi

server=$build/bin/velmora
cli=$build/bin/velmora-cli
[ -x "$server" ] && [ -x "$cli" ] || { echo "no $server or $cli" >&2; exit 2; }

work=$(mktemp -d)
pid=
stop_server() {
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pid=
}
trap 'stop_server; rm -rf "$work"' EXIT

port=$((20000 + RANDOM % 20000))
mkdir -p "$work/app/Upload"
printf '[CONFIG]\r\nSVROPENPORT=%s\r\n' "$port" > "$work/app/CONFIG.CFG"
printf 'DriverID=SQLite\r\nDatabase=%s\r\nCreateDatabase=Yes\r\n' "$work/probe.db" \
  > "$work/app/DataBase.CFG"

python3 - "$work/file.bin" "$mib" <<'PY'
import random, sys
path, size = sys.argv[1], int(sys.argv[2]) << 20
rng = random.Random(7)
with open(path, "wb") as f:
    text = bytearray()
    i = 0
    while len(text) < size // 2:
        text += b"%d;row %d of the exchange file;%d\n" % (i, rng.randrange(10**6), i * 7)
        i += 1
    f.write(bytes(text[: size // 2]))
    f.write(rng.randbytes(size - size // 2))
PY
file_kib=$(($(stat -c %s "$work/file.bin") / 1024))

start_server() {
  : > "$work/server.log"
  "$server" --headless --app-dir "$work/app" > "$work/server.log" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    grep -q '服务启动完成' "$work/server.log" && { sleep 1; return 0; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
}
kib() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$pid/status"; }
report() {
  local before=$1 hwm
  hwm=$(kib VmHWM)
  python3 -c "b, h, f = $before, $hwm, $file_kib
print(f'  server VmRSS before {b} KiB, VmHWM after {h} KiB: growth {(h - b) / f:.2f}x the file, '
      f'whole process {h / f:.2f}x')"
}

echo "== $mib MiB file ($file_kib KiB), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo "-- download"
cp "$work/file.bin" "$work/app/Upload/probe.bin"
start_server
before=$(kib VmRSS)
timeout "$client_timeout" "$cli" --port "$port" download probe.bin "$work/got.bin" > /dev/null
report "$before"
cmp -s "$work/file.bin" "$work/got.bin" && echo "  bytes: unchanged" || echo "  bytes: DIFFERENT"
stop_server
rm -f "$work/app/Upload/probe.bin" "$work/got.bin"

echo "-- upload"
start_server
before=$(kib VmRSS)
timeout "$client_timeout" "$cli" --port "$port" upload "$work/file.bin" probe.bin > /dev/null
report "$before"
cmp -s "$work/file.bin" "$work/app/Upload/probe.bin" && echo "  bytes: unchanged" ||
  echo "  bytes: DIFFERENT"
stop_server
