#!/usr/bin/env bash
# The browser test: registers VtrlSrv into a registry of its own, starts vhost on free loopback
# ports on copies of the example site, one host in UTF-8 and one in code page 949, and lets
# headless Chromium upload and download through them.
#   tests/browser/run.sh BUILD_BIN_DIR [SCREENSHOT.png [PROGRESS_SCREENSHOT.png]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
shot=${2:-}
progress_shot=${3:-}
work=$(mktemp -d)
cleanup() {
  for pid in ${host_pids:-}; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$here" && [ -d node_modules/playwright-core ] || npm install --no-audit --no-fund --silent >/dev/null)

export PLATFORM_REGISTRY="$work/registry.reg"
"$bin/regsvr" -s "$bin/libVtrlSrv.so"
"$bin/regsvr" -s "$bin/libado.so"
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}
# Starts a host in code page $1 on a copy of the example site in $work/$2; prints its port.
start_host() {
  local port
  port=$(free_port)
  # A copy of the example site: the pages save what arrives into it. The data folders are those
  # of scripts/run.sh.
  cp -r "$here/../../examples/site" "$work/$2"
  PLATFORM_ACP=$1 "$bin/vhost" --root "$work/$2" --address 127.0.0.1 --port "$port" \
    --data-dir files --data-dir zfiles --data-dir data --access-log off > "$work/$2.log" 2>&1 &
  host_pids="${host_pids:-} $!"
  for _ in $(seq 50); do
    python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
    sleep 0.1
  done
  echo "$port"
}
start_host 65001 site > "$work/port"
utf8_port=$(cat "$work/port")
start_host 949 site949 > "$work/port"
cp949_port=$(cat "$work/port")
node "$here/upload_browser.mjs" "http://127.0.0.1:$utf8_port" "$work" "$shot" \
  "http://127.0.0.1:$cp949_port" "$work/site949" "$progress_shot"
echo "1 passed, 0 failed"
