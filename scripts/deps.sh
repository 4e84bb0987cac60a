#!/usr/bin/env bash
# Installs what building, running and testing Wrenhaven needs on Debian 12,
# skipping what is already there. Run as root (or through sudo).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  libsqlite3-dev sqlite3 libpq-dev
  nlohmann-json3-dev libcli11-dev libfmt-dev libspdlog-dev libsodium-dev
  libcpp-httplib-dev libssl-dev openssl libkainjow-mustache-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 curl wrk
  postgresql
  chromium fonts-wqy-microhei
)
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
