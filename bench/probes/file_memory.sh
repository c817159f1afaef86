#!/usr/bin/env bash
# Peak resident memory (VmHWM) of a headless `velmora` moving one file, seen from outside: a file
# of MIB MiB (half text-like lines, half random bytes) downloaded once from a fresh server, then
# uploaded once to another fresh server, with velmora-cli. Prints, for each direction, the server's
# resident memory before the call (VmRSS), its peak after it, the growth and the whole peak as
# multiples of the file's size, and checks that the bytes arrived unchanged.
#
#   bench/probes/file_memory.sh [BUILD_DIR]     (default build-rel; needs bin/velmora, bin/velmora-cli)
#
# Environment: MIB (64), CLIENT_TIMEOUT seconds (300). The server and client run as
# bench/probes/server_probe.sh sets them up; the client is bounded by `timeout`.
set -euo pipefail

mib=${MIB:-64}
client_timeout=${CLIENT_TIMEOUT:-300}
# shellcheck source=bench/probes/server_probe.sh
. "$(dirname "$0")/server_probe.sh" "${1:-build-rel}"
write_config
SETTLE=1 # the server's resident memory before the call is read once it is idle

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
