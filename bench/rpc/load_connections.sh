#!/usr/bin/env bash
# Connection load against a real `velmora --headless` on 127.0.0.1 (not run by CTest):
#   1,000 logged-in connections, then 2,000 silent sockets, then the 1,000 called again once the
#   silent ones' hello deadline has passed, then 200 silent sockets with room under the
#   connection cap, then SIGTERM while 50 of the logged-in are in calls.
# Prints what held, the server's RSS and how long SIGTERM took.
# Usage: bench/rpc/load_connections.sh [path/to/velmora]   (default build-asan/bin/velmora)
set -euo pipefail
program=${1:-build-asan/bin/velmora}
ulimit -n 8192
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[CONFIG]\r\nSVROPENPORT=%s\r\nSVRUSERNAME=admin\r\nSVRPASSWORD=load\r\n' "$port" > "$dir/CONFIG.CFG"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ASAN_OPTIONS=detect_leaks=0 \
  "$program" --headless --app-dir "$dir" > "$dir/out.log" 2> "$dir/err.log" &
pid=$!
for _ in $(seq 100); do grep -q "端口" "$dir/out.log" 2>/dev/null && break; sleep 0.1; done
python3 - "$port" "$pid" <<'PY'
import socket, struct, sys, time, os, signal, threading
port, pid = int(sys.argv[1]), int(sys.argv[2])

def s32(b): return struct.pack('<I', len(b)) + b
def frame(m): return struct.pack('<IB', len(m), 0) + m
def hello(): return frame(b'\x01' + struct.pack('<H', 1) + s32(b'admin') + s32(b'load') + s32(b'tcp/ip'))
def call(method, args=b'', n=0):
    return frame(b'\x03' + s32(b'TServerModule1') + s32(method) + struct.pack('<I', n) + args)
def read_msg(s):
    h = b''
    while len(h) < 5:
        c = s.recv(5 - len(h))
        if not c: return None
        h += c
    n, flags = struct.unpack('<IB', h)
    p = b''
    while len(p) < n:
        c = s.recv(n - len(p))
        if not c: return None
        p += c
    return p if not flags else b'?'
def classify(sockets, kinds):
    """Counts what each silent socket got: an error message and a close, or nothing within 0.05 s."""
    for s in sockets:
        s.settimeout(0.05)
        try:
            m = read_msg(s)
            key = 'refused: ' + m[5:].decode('utf-8', 'replace') if m and m[:1] == b'\x05' else 'closed'
        except socket.timeout:
            key = 'held open'
        except OSError:
            key = 'reset'
        kinds[key] = kinds.get(key, 0) + 1
def rss_kib():
    for line in open(f'/proc/{pid}/status'):
        if line.startswith('VmRSS'): return int(line.split()[1])
def now_call(s):
    try:
        s.sendall(call(b'GetServerDateTime'))
        m = read_msg(s)
        return m is not None and m[:1] == b'\x04'
    except OSError:
        return False

print(f'server RSS at start: {rss_kib()} KiB')
t = time.time()
logged = []
refused_login = 0
for i in range(1000):
    s = socket.create_connection(('127.0.0.1', port), timeout=30)
    s.sendall(hello())
    m = read_msg(s)
    if m and m[:2] == b'\x02\x01' and now_call(s): logged.append(s)
    else: refused_login += 1; s.close()
print(f'logged in and served: {len(logged)} of 1000 ({refused_login} refused) in {time.time()-t:.1f} s; '
      f'server RSS {rss_kib()} KiB')

t = time.time()
silent, kinds = [], {}
for i in range(2000):
    s = socket.socket(); s.settimeout(5)
    try:
        s.connect(('127.0.0.1', port))
    except OSError as e:
        kinds['connect failed'] = kinds.get('connect failed', 0) + 1; s.close(); continue
    silent.append(s)
classify(silent, kinds)
print(f'2000 silent sockets in {time.time()-t:.1f} s:')
for k, v in sorted(kinds.items(), key=lambda kv: -kv[1]): print(f'  {v:5d}  {k}')
print(f'server RSS with them: {rss_kib()} KiB')

time.sleep(11)  # past the hello deadline
closed_silent = 0
for s in silent:
    s.settimeout(0.01)
    try:
        if s.recv(1) == b'': closed_silent += 1
    except socket.timeout: pass
    except OSError: closed_silent += 1
    s.close()
served = sum(1 for s in logged if now_call(s))
print(f'after 11 s: silent sockets closed by the server {closed_silent} of {len(silent)}; '
      f'logged-in still served {served} of {len(logged)}; server RSS {rss_kib()} KiB')

# 100 logged-in connections leave; 200 more silent sockets: the per-address cap on connections
# that have not logged in holds all but 32 of them off.
for s in logged[-100:]: s.close()
logged = logged[:-100]
time.sleep(1)
silent, kinds = [], {}
for i in range(200):
    s = socket.create_connection(('127.0.0.1', port), timeout=5)
    silent.append(s)
classify(silent, kinds)
print(f'after 100 of the logged-in left, 200 more silent sockets:')
for k, v in sorted(kinds.items(), key=lambda kv: -kv[1]): print(f'  {v:5d}  {k}')
for s in silent: s.close()

# SIGTERM while 50 connections call in a loop.
stop = threading.Event()
def busy(s):
    while not stop.is_set() and now_call(s): pass
threads = [threading.Thread(target=busy, args=(s,)) for s in logged[:50]]
for th in threads: th.start()
time.sleep(1)
t = time.time()
os.kill(pid, signal.SIGTERM)
while time.time() - t < 30:
    try:
        os.kill(pid, 0)
        with open(f'/proc/{pid}/stat') as f:
            if f.read().split()[2] == 'Z': break
    except (ProcessLookupError, FileNotFoundError):
        break
    time.sleep(0.02)
took = time.time() - t
stop.set()
for th in threads: th.join()
print(f'SIGTERM with 50 clients calling and {len(logged)} connected: exited in {took:.2f} s')
for s in logged: s.close()
PY
wait "$pid" && echo "exit code 0" || echo "exit code $?"
tail -n 3 "$dir/err.log" || true
