# The frame of the probes that watch one headless `velmora` on SQLite from outside (sourced by
# bench/probes/*.sh, not run): `. server_probe.sh BUILD_DIR` re-runs the calling script in a network
# namespace of its own where only the loopback exists (when `unshare --net` is allowed), so nothing
# listens beyond 127.0.0.1, then sets
#   build, server, cli   the build folder and its bin/velmora and bin/velmora-cli
#   work                 a temporary folder, removed on exit with the server stopped
#   port                 the server's port; $work/app its folder (Upload/ and DataBase.CFG on
#                        $work/probe.db, created on first use); CONFIG.CFG is the caller's, through
#                        write_config
# and the functions below. A server is stopped with SIGTERM (SIGKILL after 10 s).

build=$(cd "${1:-build-rel}" && pwd)

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
printf 'DriverID=SQLite\r\nDatabase=%s\r\nCreateDatabase=Yes\r\n' "$work/probe.db" \
  > "$work/app/DataBase.CFG"

# CONFIG.CFG: the server's port, then each argument as one more line.
write_config() {
  {
    printf '[CONFIG]\r\nSVROPENPORT=%s\r\n' "$port"
    for line in "$@"; do printf '%s\r\n' "$line"; done
  } > "$work/app/CONFIG.CFG"
}

# Starts the server and waits until it reports itself started, then SETTLE seconds more (0).
start_server() {
  : > "$work/server.log"
  "$server" --headless --app-dir "$work/app" > "$work/server.log" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    grep -q '服务启动完成' "$work/server.log" && { sleep "${SETTLE:-0}"; return 0; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "the server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
}

# One line of the running server's /proc status in KiB (VmRSS, VmHWM ...).
kib() { awk -v k="$1:" '$1 == k {print $2}' "/proc/$pid/status"; }
