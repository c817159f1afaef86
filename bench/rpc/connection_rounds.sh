#!/usr/bin/env bash
# Rounds of many connections that query, against a real `velmora --headless` on 127.0.0.1 (not run
# by CTest), with the server's resident memory after each round. A round: CONNECTIONS clients
# connect and log in, then each sends one SQL2OleVariant of ROWS rows of BIG_TABLE (at most
# IN_FLIGHT at a time: the server has 30 database connections and a query waits 3 s for one) and
# reads its reply; when all have their answer they close. The script then waits until the server
# is back to its idle count of threads and descriptors and prints VmRSS. Once the first round has
# warmed the pools, the memory must stay flat from round to round.
# Usage: bench/rpc/connection_rounds.sh [bin folder]   (default build-rel/bin)
#   ROUNDS=12 CONNECTIONS=1000 ROWS=3000 IN_FLIGHT=100; extra environment (MALLOC_ARENA_MAX=2, ...)
#   reaches the server as it is.
set -euo pipefail
bin=${1:-build-rel/bin}
rounds=${ROUNDS:-12}
connections=${CONNECTIONS:-1000}
rows=${ROWS:-3000}
in_flight=${IN_FLIGHT:-100}
here=$(cd "$(dirname "$0")" && pwd)
ulimit -n 8192
dir=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
python3 "$here/../peers/big_table.py" sqlite "$dir/rounds.db" "$rows"
printf '[CONFIG]\r\nSVROPENPORT=%s\r\nSVRUSERNAME=admin\r\nSVRPASSWORD=rounds\r\n' "$port" > "$dir/CONFIG.CFG"
printf 'DriverID=SQLite\r\nDatabase=%s/rounds.db\r\n' "$dir" > "$dir/DataBase.CFG"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 \
  "$bin/velmora" --headless --app-dir "$dir" > "$dir/out.log" 2> "$dir/err.log" &
pid=$!
for _ in $(seq 100); do grep -q "端口" "$dir/out.log" 2>/dev/null && break; sleep 0.1; done
timeout 1800 python3 - "$port" "$pid" "$rounds" "$connections" "$rows" "$in_flight" <<'PY'
import socket, struct, sys, threading, time, os, zlib
port, pid, rounds, connections, rows, in_flight = (int(a) for a in sys.argv[1:7])

def s32(b): return struct.pack('<I', len(b)) + b
def frame(m): return struct.pack('<IB', len(m), 0) + m
HELLO = frame(b'\x01' + struct.pack('<H', 1) + s32(b'admin') + s32(b'rounds') + s32(b'tcp/ip'))
SQL = f'SELECT * FROM BIG_TABLE WHERE ID <= {rows}'.encode()
QUERY = frame(b'\x03' + s32(b'TServerModule1') + s32(b'SQL2OleVariant') + struct.pack('<I', 1) +
              struct.pack('<H', 0x0008) + s32(SQL))

def recv_exact(s, n):
    b = bytearray()
    while len(b) < n:
        c = s.recv(min(n - len(b), 1 << 20))
        if not c: raise ConnectionError('closed by the server')
        b += c
    return bytes(b)

def read_msg(s):
    n, flags = struct.unpack('<IB', recv_exact(s, 5))
    p = recv_exact(s, n)
    return zlib.decompress(p[4:]) if flags & 1 else p

def outcome(m):
    """'ok' for a reply holding a data packet, else the error text."""
    if m[:1] == b'\x05': return m[5:].decode('utf-8', 'replace')
    if m[:1] != b'\x04': return f'message type {m[0]}'
    if m[1:3] == b'\x11\x20': return 'ok'
    # Empty result: the out-parameter ErrMsg follows (count, type, string).
    return m[13:].decode('utf-8', 'replace') or 'empty result'

def proc(name):
    for line in open(f'/proc/{pid}/status'):
        if line.startswith(name + ':'): return int(line.split()[1])

def fds(): return len(os.listdir(f'/proc/{pid}/fd'))

def settle(threads, descriptors):
    """Waits (at most 30 s) until the server is back to its idle threads and descriptors, then 2 s:
    the server hands its free memory back a second after the last connection ended."""
    end = time.time() + 30
    while time.time() < end and (proc('Threads') > threads or fds() > descriptors):
        time.sleep(0.1)
    time.sleep(2)

idle_threads, idle_fds = proc('Threads'), fds()
print(f'server RSS at start: {proc("VmRSS")} KiB ({idle_threads} threads, {idle_fds} descriptors)',
      flush=True)
first = None
for r in range(1, rounds + 1):
    t0 = time.time()
    socks, results = [], {}
    # Logins one after another: at most 32 connections from one address may wait for their login.
    for _ in range(connections):
        s = socket.create_connection(('127.0.0.1', port), timeout=300)
        s.sendall(HELLO)
        m = read_msg(s)
        if m[:2] != b'\x02\x01':
            results['login refused'] = results.get('login refused', 0) + 1
            s.close(); continue
        socks.append(s)
    start = threading.Barrier(len(socks) + 1)
    peak = {}
    answered = threading.Barrier(len(socks) + 1, action=lambda: peak.update(threads=proc('Threads')))
    slots = threading.Semaphore(in_flight)
    lock = threading.Lock()
    def client(s):
        start.wait()
        try:
            with slots:
                s.sendall(QUERY)
                key = outcome(read_msg(s))
        except (OSError, zlib.error) as e:
            key = f'{type(e).__name__}: {e}'
        with lock: results[key] = results.get(key, 0) + 1
        answered.wait()  # every connection stays open until all have their answer
        s.close()
    threads = [threading.Thread(target=client, args=(s,), daemon=True) for s in socks]
    for t in threads: t.start()
    start.wait()
    answered.wait()
    for t in threads: t.join()
    took = time.time() - t0
    settle(idle_threads, idle_fds)
    rss = proc('VmRSS')
    if first is None: first = rss
    other = ', '.join(f'{v} {k}' for k, v in sorted(results.items()) if k != 'ok')
    print(f'round {r:2d}: {results.get("ok", 0)} of {connections} queries answered'
          f'{" (" + other + ")" if other else ""} in {took:.1f} s, {peak["threads"]} server threads; '
          f'after: {proc("Threads")} threads, {fds()} descriptors, RSS {rss} KiB', flush=True)
print(f'server RSS after the first round {first} KiB, after the last {rss} KiB; '
      f'peak (VmHWM) {proc("VmHWM")} KiB')
PY
kill -TERM "$pid"
wait "$pid" && echo "server exit code 0" || echo "server exit code $?"
pid=
