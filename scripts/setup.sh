#!/usr/bin/env bash
# Installs every Debian package the project needs. Safe to run again: it installs only what is
# missing, and touches apt only then.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-format
  libffi-dev
  libmicrohttpd-dev duktape-dev
  zlib1g-dev libdeflate-dev gzip
  curl
  nodejs chromium fonts-nanum
  libsqlite3-dev libpq-dev postgresql
  nginx
  clang libclang-rt-14-dev llvm
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
