#!/usr/bin/env bash
# The browser test: registers VtrlSrv into a registry of its own, starts vhost on a free
# loopback port on the example site, and lets headless Chromium upload through it.
#   tests/browser/run.sh BUILD_BIN_DIR [SCREENSHOT.png [PROGRESS_SCREENSHOT.png]]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
shot=${2:-}
progress_shot=${3:-}
work=$(mktemp -d)
cleanup() {
  [ -n "${host_pid:-}" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$here" && [ -d node_modules/playwright-core ] || npm install --no-audit --no-fund --silent >/dev/null)

export PLATFORM_REGISTRY="$work/registry.reg"
export PLATFORM_ACP=65001
"$bin/regsvr" -s "$bin/libVtrlSrv.so"
"$bin/regsvr" -s "$bin/libado.so"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# A copy of the example site: the pages save what arrives into it.
cp -r "$here/../../examples/site" "$work/site"
"$bin/vhost" --root "$work/site" --address 127.0.0.1 --port "$port" \
  --access-log off > "$work/host.log" 2>&1 &
host_pid=$!
for _ in $(seq 50); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 1)" 2>/dev/null && break
  sleep 0.1
done
node "$here/upload_browser.mjs" "http://127.0.0.1:$port" "$work" "$shot" "$progress_shot"
echo "1 passed, 0 failed"
