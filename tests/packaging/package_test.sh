#!/usr/bin/env bash
# The packages velmora and velmora-cli as an administrator meets them, on a machine where systemd
# need not run: both are unpacked into a scratch root (dpkg -x); the unit must pass
# systemd-analyze verify and rate at most 2.0 (OK) in its security exposure; the postinst, run on
# that root with the commands that would change the real system (adduser, chown, the systemd
# helpers) recorded instead of run, must make the application folder with a generated password,
# and an upgrade must leave it alone; the installed server, started with the unit's ExecStart and
# Environment re-rooted, must serve velmora-cli logging in with that password, metrics that
# promtool accepts and a health check that follows the database file, and --backup-now
# through the running copy, and stop on SIGTERM; remove keeps the folder, purge deletes it.
# Usage: package_test.sh BUILD_PACKAGE_DIR   (exit 77: no packages there, skipped)
set -euo pipefail

packages=$1
shopt -s nullglob
server_deb=("$packages"/velmora_*.deb)
cli_deb=("$packages"/velmora-cli_*.deb)
if [ ${#server_deb[@]} -ne 1 ] || [ ${#cli_deb[@]} -ne 1 ]; then
  echo "SKIPPED: no velmora and velmora-cli packages in $packages; scripts/package.sh makes them"
  exit 77
fi

scratch=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill -9 "$server_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
expect_mode() {  # FILE MODE
  [ "$(stat -c %a "$1")" = "$2" ] || fail "$1 has mode $(stat -c %a "$1"), not $2"
}

root=$scratch/root
app=$root/var/lib/velmora
unit=$root/lib/systemd/system/velmora.service
dpkg -x "${server_deb[0]}" "$root"
dpkg -x "${cli_deb[0]}" "$root"
dpkg-deb -e "${server_deb[0]}" "$scratch/control"
for f in usr/bin/velmora usr/bin/velmora-cli lib/systemd/system/velmora.service \
  usr/share/doc/velmora/copyright usr/share/doc/velmora-cli/copyright; do
  [ -e "$root/$f" ] || fail "the packages lack /$f"
done
echo "unpacked: $(basename "${server_deb[0]}") $(basename "${cli_deb[0]}")"

# The engines' client libraries are loaded when needed: never hard dependencies.
depends=$(dpkg-deb -f "${server_deb[0]}" Depends)
for lib in libfbclient2 libpq5 libodbc2 tdsodbc odbc-mdbtools firebird3.0-server-core; do
  case "$depends" in *"$lib"*) fail "velmora depends on $lib: $depends" ;; esac
done
dpkg-deb -f "${server_deb[0]}" Recommends | grep -q libfbclient2 || fail "libfbclient2 not recommended"

# --- the unit ------------------------------------------------------------------------------------
# The targets the unit is ordered against come from this machine's systemd. verify checks the
# unit's syntax and that ExecStart's program exists in the root; any remark fails the test.
for target in /lib/systemd/system/*.target; do
  cp -n "$target" "$root/lib/systemd/system/"
done
systemd-analyze verify --root="$root" --man=no /lib/systemd/system/velmora.service \
  >"$scratch/verify.txt" 2>&1 || fail "systemd-analyze verify refused the unit: $(cat "$scratch/verify.txt")"
[ ! -s "$scratch/verify.txt" ] || fail "systemd-analyze verify: $(cat "$scratch/verify.txt")"
echo "systemd-analyze verify: passed"
# Its man pages, checked here in the root instead of by verify.
for page in $(sed -n 's/^Documentation=//p' "$unit" | grep -o 'man:[^ ]*'); do
  name=${page#man:}
  section=${name##*(}
  section=${section%)}
  [ -f "$root/usr/share/man/man$section/${name%(*}.$section.gz" ] || fail "no man page $name"
done
rating=$(systemd-analyze security --offline=yes "$unit" 2>&1 | sed -n 's/.*Overall exposure level for velmora.service: //p')
echo "systemd-analyze security: $rating"
awk -v r="${rating%% *}" 'BEGIN { exit !(r != "" && r <= 2.0) }' || fail "exposure '$rating' above 2.0"

# --- the postinst, on the scratch root -----------------------------------------------------------
stubs=$scratch/stubs
mkdir -p "$stubs"
for cmd in adduser chown deb-systemd-helper deb-systemd-invoke systemctl; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\n' "$cmd" "$scratch/calls" >"$stubs/$cmd"
  chmod +x "$stubs/$cmd"
done
run_script() {  # NAME ARGS...: a maintainer script of velmora on the scratch root
  local name=$1
  shift
  DPKG_ROOT=$root PATH="$stubs:$PATH" sh "$scratch/control/$name" "$@"
}

mkdir -p "$root/var/lib"  # as every Debian system has it
run_script postinst configure "" >"$scratch/install.txt" || fail "postinst configure failed"
cat "$scratch/install.txt"
grep -qx "adduser --system --group --quiet --home /var/lib/velmora --no-create-home --gecos Velmora database application server velmora" \
  "$scratch/calls" || fail "no system user made: $(cat "$scratch/calls")"
grep -qx "deb-systemd-helper enable velmora.service" "$scratch/calls" || fail "the unit was not enabled"
for d in "" /Upload /BackupData; do
  [ -d "$app$d" ] || fail "postinst made no $app$d"
  expect_mode "$app$d" 750
  grep -qx "chown velmora:velmora $app$d" "$scratch/calls" || fail "$app$d not given to velmora"
done
for f in CONFIG.CFG DataBase.CFG velmora.db; do
  expect_mode "$app/$f" 640
  grep -qx "chown velmora:velmora $app/$f.dpkg-new" "$scratch/calls" || fail "$f not given to velmora"
done
[ ! -s "$app/velmora.db" ] || fail "velmora.db is not empty"
[ "$(cat "$app/DataBase.CFG")" = $'DriverID=SQLite\nDatabase=/var/lib/velmora/velmora.db' ] ||
  fail "unexpected DataBase.CFG: $(cat "$app/DataBase.CFG")"
password=$(sed -n 's/^SVRPASSWORD=//p' "$app/CONFIG.CFG")
[[ $password =~ ^[A-HJ-NP-Za-km-z2-9]{20}$ ]] || fail "unexpected password '$password'"
grep -q "^velmora: *$password\$" "$scratch/install.txt" || fail "the password was not printed"

# An upgrade (configure with the version before it) changes nothing and prints no password.
sums=$(cd "$app" && sha256sum CONFIG.CFG DataBase.CFG velmora.db)
run_script postinst configure 0.0.9 >"$scratch/upgrade.txt" || fail "postinst upgrade failed"
[ "$(cd "$app" && sha256sum CONFIG.CFG DataBase.CFG velmora.db)" = "$sums" ] ||
  fail "the upgrade changed the settings"
grep -q "$password" "$scratch/upgrade.txt" && fail "the upgrade printed the password"
# Another install makes another password.
other=$(DPKG_ROOT=$scratch/other PATH="$stubs:$PATH" sh -c \
  'mkdir -p "$DPKG_ROOT/var/lib" && sh "$0" configure ""' "$scratch/control/postinst" |
  sed -n 's/^velmora: *\([A-Za-z0-9]\{20\}\)$/\1/p')
[ -n "$other" ] && [ "$other" != "$password" ] || fail "a second install gave password '$other'"

# --- the installed server, started as the unit starts it -------------------------------------------
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
# The port as README's "Install as a service" changes it; the database where this root holds it.
sed -i "s/^SVROPENPORT=.*/SVROPENPORT=$port/" "$app/CONFIG.CFG"
metrics_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
grep -q '^Port=9211$' "$app/CONFIG.CFG" || fail "the installed CONFIG.CFG does not turn metrics on"
sed -i "s/^Port=9211$/Port=$metrics_port/" "$app/CONFIG.CFG"
sed -i "s|^Database=.*|Database=$app/velmora.db|" "$app/DataBase.CFG"

reroot() {  # an absolute path of the unit below the scratch root
  case "$1" in /*) echo "$root$1" ;; *) echo "$1" ;; esac
}
read -ra exec_start <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
argv=()
for a in "${exec_start[@]}"; do argv+=("$(reroot "$a")"); done
environment=()
read -ra assignments <<<"$(sed -n 's/^Environment=//p' "$unit")"
for a in "${assignments[@]}"; do environment+=("${a%%=*}=$(reroot "${a#*=}")"); done
# What RuntimeDirectory= and PrivateTmp= give the service.
mkdir -p "$root/run/velmora" "$root/var/tmp"
echo "ExecStart: ${argv[*]}"
echo "Environment: ${environment[*]}"

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u NOTIFY_SOCKET "${environment[@]}" \
  "${argv[@]}" >"$scratch/log.txt" 2>"$scratch/err.txt" &
server_pid=$!
for _ in $(seq 300); do
  grep -q "端口：$port" "$scratch/log.txt" && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "端口：$port" "$scratch/log.txt" ||
  fail "the server did not start: $(cat "$scratch/log.txt" "$scratch/err.txt")"

cli() { "$root/usr/bin/velmora-cli" --host 127.0.0.1 --port "$port" --user admin "$@"; }
cli --password "$password" exec "CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT)" ||
  fail "exec with the generated password failed"
cli --password "$password" exec "INSERT INTO notes VALUES (7, 'packaged')" || fail "insert failed"
out=$(cli --password "$password" --format csv query "SELECT id, body FROM notes" | tr -d "\r")
echo "query: $out"
grep -q '^7,packaged$' <<<"$out" || fail "query returned: $out"
if cli --password velmo time >/dev/null 2>&1; then fail "the built-in default password was let in"; fi

# The metrics and health endpoints the installed CONFIG.CFG turns on.
metrics=$(curl -fsS "http://127.0.0.1:$metrics_port/metrics") || fail "no /metrics on $metrics_port"
grep -q '^velmora_calls_total{method="SQL2OleVariant"} [1-9]' <<<"$metrics" ||
  fail "/metrics does not count the query: $(grep velmora_calls_total <<<"$metrics")"
promtool check metrics <<<"$metrics" || fail "promtool refuses /metrics"
health=$(curl -sS -o /dev/null -w '%{http_code}' "http://127.0.0.1:$metrics_port/health")
[ "$health" = 200 ] || fail "/health said $health with the database in place"

# --backup-now from another process reaches the running copy through the runtime folder.
backup=$(env "${environment[@]}" "$root/usr/bin/velmora" --app-dir "$app" --backup-now) ||
  fail "--backup-now failed"
echo "backup: $backup"
ls "$app/BackupData/"*velmora.db >/dev/null || fail "no backup in BackupData"
grep -q "已生成备份文件" "$scratch/log.txt" || fail "the running copy did not make the backup"

# Without its database file the server is not healthy.
mv "$app/velmora.db" "$scratch/velmora.db.away"
health=$(curl -sS -o "$scratch/health.json" -w '%{http_code}' "http://127.0.0.1:$metrics_port/health")
[ "$health" = 503 ] || fail "/health said $health without the database file"
echo "health without the database: $(cat "$scratch/health.json")"
mv "$scratch/velmora.db.away" "$app/velmora.db"

start=$(date +%s)
kill -TERM "$server_pid"
code=0
wait "$server_pid" || code=$?
server_pid=
[ "$code" -eq 0 ] || fail "the server ended with $code on SIGTERM: $(cat "$scratch/err.txt")"
stop_timeout=$(sed -n 's/^TimeoutStopSec=\([0-9]*\)s*$/\1/p' "$unit")
[ $(($(date +%s) - start)) -lt "${stop_timeout:-90}" ] || fail "the stop took longer than TimeoutStopSec"

# --- remove and purge ------------------------------------------------------------------------------
run_script prerm remove || fail "prerm remove failed"
run_script postrm remove || fail "postrm remove failed"
[ -f "$app/CONFIG.CFG" ] && [ -f "$app/velmora.db" ] || fail "remove deleted the user's data"
run_script postrm purge || fail "postrm purge failed"
[ ! -e "$app" ] || fail "purge left $app"

echo "PASS"
