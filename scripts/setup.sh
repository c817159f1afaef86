#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing), group by group.
set -euo pipefail

packages=(
  # The toolchain: CMake with Ninja, GCC, pkg-config (CMake's find modules use it); ccache keeps
  # rebuilds cheap; python3 runs scripts/check-layers.py; clang-format checks the formatting
  # (scripts/check-format.sh).
  cmake ninja-build g++ pkg-config ccache python3 clang-format
  # The server core: zlib (packets and the transport's compression filter), SQLite (the database
  # engine), fmt (text formatting), standalone Asio (the TCP transport).
  zlib1g-dev libsqlite3-dev libfmt-dev libasio-dev
  # libdeflate: the whole-buffer deflater that writes the data packets' zlib streams.
  libdeflate-dev
  # TLS for the transport, through Asio's OpenSSL support; openssl makes the tests' certificates.
  libssl-dev openssl
  # The clients and tools: CLI11 (velmora-cli and velmora-bench options), nlohmann JSON
  # (velmora-bench reports, the client's JSON output tests).
  libcli11-dev nlohmann-json3-dev
  # velmora-cli's interactive shell: libedit for line editing and the history file (BSD licensed,
  # where GNU readline's GPL would bind the client's licence; its package depends on libedit2).
  libedit-dev
  # Tests and benchmarks: GoogleTest under CTest, Google Benchmark.
  libgtest-dev libbenchmark-dev
  # The fuzz targets (scripts/fuzz.sh): clang, and its runtime with libFuzzer and the sanitizers
  # (clang only recommends it, and recommendations are not installed here).
  clang libclang-rt-dev
  # The shell: Qt 6 widgets; a font with the Chinese operator texts; Xvfb for scripts/screenshot.sh.
  qt6-base-dev fonts-wqy-microhei xvfb
  # The sqlite3 program fills the sample database of scripts/run.sh.
  sqlite3
  # The database engines beyond SQLite; each client library is loaded when the first connection to
  # its engine opens, the -dev packages give the headers. Firebird: the client library and the
  # embedded engine (the tests open database files in-process). ODBC: unixODBC with FreeTDS (SQL
  # Server) and MDB Tools (Access), and the PostgreSQL and SQLite ODBC drivers the tests use.
  # PostgreSQL: libpq, and the server programs the tests start throwaway clusters with.
  firebird-dev libfbclient2 firebird3.0-server-core
  unixodbc-dev libodbc2 tdsodbc odbc-mdbtools odbc-postgresql libsqliteodbc
  libpq-dev libpq5 postgresql postgresql-client
  # Benchmarks against a peer (bench/peers/compare_postgres.sh): pgbouncer, the connection pooler
  # in front of the throwaway PostgreSQL cluster (pgbench and psql come with postgresql).
  pgbouncer
  # Scale-out (scripts/cluster.sh, its test and bench/cluster/scale.sh): HAProxy in front of
  # several servers, spreading clients over them and taking a dead one out by its health check.
  haproxy
  # The Debian packages (scripts/package.sh) and their service: libsystemd-dev for sd_notify
  # (the server tells systemd when it is ready, its status and its stop); dpkg-dev (dpkg-shlibdeps,
  # dpkg-buildflags) and file for CPack's DEB generator; lintian checks the packages; systemd gives
  # systemd-analyze, which the package test runs on the unit. Installing systemd in a container
  # is harmless: the container's own first process stays its init, nothing is started, and the
  # postinst adds system users and unit symlinks only.
  libsystemd-dev dpkg-dev file lintian systemd
  # The monitoring endpoint (/metrics, /health): prometheus-cpp writes the Prometheus text (the
  # endpoint's HTTP listener is its own, on Asio). Tests only: prometheus for promtool,
  # which checks the text the endpoint serves; curl, with which the package test scrapes the
  # installed server's endpoints as an administrator would.
  prometheus-cpp-dev prometheus curl
  # The Python driver (clients/python): its tests run under pytest; the install test builds the
  # package offline into a scratch venv with Debian's setuptools and pip (--no-build-isolation);
  # setuptools needs wheel for that build ("invalid command 'bdist_wheel'" without it).
  python3-pytest python3-setuptools python3-venv python3-pip python3-wheel
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
