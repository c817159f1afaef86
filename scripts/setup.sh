#!/usr/bin/env bash
# Installs the Debian packages the project needs (only those missing).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config sqlite3
  zlib1g-dev libssl-dev openssl libsqlite3-dev libfmt-dev libasio-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  unixodbc-dev firebird-dev
  qt6-base-dev fonts-wqy-microhei xvfb
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
