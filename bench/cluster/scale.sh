#!/usr/bin/env bash
# Throughput through HAProxy with one Velmora server and then two (not run by CTest): the
# one-row read workload of velmora-bench (BIG_TABLE by key) against the replicated PostgreSQL of
# scripts/cluster.sh. For each run: calls/s, and the CPU time each part used (PostgreSQL with all
# its processes, each Velmora server, HAProxy, the bench) as a share of the machine's CPUs over
# the run, plus what the rest of the machine used meanwhile. Prints the ratio two/one at the end.
# Everything it starts is stopped and removed on exit, also on failure or Ctrl-C.
#
# Usage: bench/cluster/scale.sh [bin folder]     (default build-rel/bin)
#   CLIENTS=16 SECONDS_EACH=10 ROUNDS=3 ROWS=100000
# Build: cmake -S . -B build-rel -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON
#        cmake --build build-rel --target velmora velmora-bench
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
bin=$(cd "${1:-$root/build-rel/bin}" && pwd)
clients=${CLIENTS:-16}
seconds=${SECONDS_EACH:-10}
export ROWS=${ROWS:-100000}
export VELMORA_PROGRAM=$bin/velmora VELMORA_BENCH=$bin/velmora-bench
for tool in "$VELMORA_PROGRAM" "$VELMORA_BENCH"; do
  [ -x "$tool" ] || { echo "missing $tool (build the Release targets first)" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/velmora-scale.XXXXXX)
cluster() { bash "$root/scripts/cluster.sh" "$@" "$dir"; }
trap 'cluster down >/dev/null 2>&1 || true' EXIT
trap 'exit 130' INT TERM

# CPU ticks of each named process ("name pid" lines on standard input), its threads included;
# for a PostgreSQL postmaster also every process below it, ended ones included (their time is
# added to the postmaster's children's time when it reaps them). Then the machine's busy ticks.
cpu_ticks() {
  python3 -c '
import os, sys
def stat(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[1]), [int(x) for x in fields[11:15]]  # ppid; utime stime cutime cstime
procs = {}
for p in os.listdir("/proc"):
    if p.isdigit():
        try: procs[int(p)] = stat(p)
        except OSError: pass
for line in sys.stdin:
    name, pid = line.split()
    pid = int(pid)
    ticks = sum(procs[pid][1]) if name.startswith("postgres") else sum(procs[pid][1][:2])
    if name.startswith("postgres"):
        ticks += sum(sum(t[:2]) for q, (pp, t) in procs.items() if pp == pid)
    print(name, ticks)
with open("/proc/stat") as f:
    cpu = [int(x) for x in f.readline().split()[1:8]]  # user .. steal; guest is inside user
import time
print("machine_busy", sum(cpu) - cpu[3] - cpu[4])
print("wall_ms", int(time.time() * 1000))
'
}

run() {  # label
  local before after out
  before=$(cluster pids | cpu_ticks)
  # The bench's own CPU: the subshell's `times` prints its children's user and system time.
  out=$( (
    "$VELMORA_BENCH" --host 127.0.0.1 --port "$FRONT_PORT" --user "$CLUSTER_USER" \
      --password "$CLUSTER_PASSWORD" --workload small --clients "$clients" --seconds "$seconds" --json
    times
  ))
  after=$(cluster pids | cpu_ticks)
  python3 - "$1" "$(nproc)" "$(getconf CLK_TCK)" "$before" "$after" "$out" <<'PY'
import json, sys
label, cpus, hz = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
parse = lambda text: {k: int(v) for k, v in (l.split() for l in text.splitlines())}
before, after = parse(sys.argv[4]), parse(sys.argv[5])
lines = sys.argv[6].splitlines()
report = json.loads(next(l for l in lines if l.startswith("{")))
def secs(t):  # "0m1.234s"
    m, s = t.rstrip("s").split("m")
    return int(m) * 60 + float(s)
user, system = lines[-1].split()
bench_cpu = secs(user) + secs(system)
# The window is that of the two samples, which the bench's run lies within.
wall = (after["wall_ms"] - before["wall_ms"]) / 1000
capacity = wall * cpus
used = {}
for name in after:
    if name in before and name not in ("machine_busy", "wall_ms"):
        key = "postgres" if name.startswith("postgres") else name
        used[key] = used.get(key, 0) + (after[name] - before[name]) / hz
used["bench"] = bench_cpu
busy = (after["machine_busy"] - before["machine_busy"]) / hz
ours = sum(used.values())
print(f"== {label}: {report['calls_per_s']:.0f} calls/s ({report['calls']} calls, "
      f"{report['errors']} errors, p50 {report['p50_us']:.0f} us, p99 {report['p99_us']:.0f} us)")
print(f"   CPU over {wall:.1f} s on {cpus} CPUs ({capacity:.1f} CPU-s):")
for name, s in sorted(used.items()):
    print(f"     {name:10} {s:7.2f} CPU-s  {100 * s / capacity:5.1f} %")
print(f"     {'others':10} {max(busy - ours, 0):7.2f} CPU-s  {100 * max(busy - ours, 0) / capacity:5.1f} %  (the rest of the machine)")
print(f"     {'idle':10} {max(capacity - busy, 0):7.2f} CPU-s  {100 * max(capacity - busy, 0) / capacity:5.1f} %")
per_call = 1e6 * ours / report["calls"] if report["calls"] else 0
print(f"   all the parts above: {1e3 * ours / max(report['calls'], 1):.2f} CPU-ms per call, so "
      f"{cpus} whole CPUs would carry at most {cpus * 1e6 / per_call if per_call else 0:.0f} calls/s")
print(f"CALLS_PER_S {report['calls_per_s']:.1f}")
PY
}

echo "== setting up: PostgreSQL primary and standby ($ROWS rows), two servers, HAProxy in $dir"
cluster up >/dev/null
# shellcheck disable=SC1091
. "$dir/cluster.env"
export FRONT_PORT CLUSTER_USER CLUSTER_PASSWORD

# A short warm-up through both servers fills their pools and PostgreSQL's cache.
"$VELMORA_BENCH" --host 127.0.0.1 --port "$FRONT_PORT" --user "$CLUSTER_USER" \
  --password "$CLUSTER_PASSWORD" --workload small --clients "$clients" --seconds 2 >/dev/null

# One server and two alternately, ROUNDS times, so that the machine's other work falls on both
# alike; the medians are compared.
ones=()
twos=()
for ((round = 1; round <= ${ROUNDS:-3}; round++)); do
  cluster disable-server 2 >/dev/null
  one=$(run "round $round, one server ($clients clients)")
  echo "$one" | grep -v '^CALLS_PER_S'
  ones+=("$(echo "$one" | sed -n 's/^CALLS_PER_S //p')")
  cluster enable-server 2 >/dev/null
  sleep 1
  two=$(run "round $round, two servers ($clients clients)")
  echo "$two" | grep -v '^CALLS_PER_S'
  twos+=("$(echo "$two" | sed -n 's/^CALLS_PER_S //p')")
done
python3 - "${ones[*]}" "${twos[*]}" <<'PY'
import statistics, sys
one = [float(x) for x in sys.argv[1].split()]
two = [float(x) for x in sys.argv[2].split()]
a, b = statistics.median(one), statistics.median(two)
print(f"== median calls/s: one server {a:.0f} {one}, two servers {b:.0f} {two}; two / one: {b / a:.2f}x")
PY
