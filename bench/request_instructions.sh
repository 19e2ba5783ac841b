#!/usr/bin/env bash
# The host's user-space instructions per small upload, counted by callgrind: one worker, one
# connection, the page of bench/host.sh, counted after a warm-up. A count does not move with
# the machine's load, so it shows a change of a few percent that timings on a shared machine
# cannot; it leaves out the kernel (about half of a request's time) and counts a string
# instruction (rep movsb, rep stosb) once per byte, which inflates memcpy and memset.
#   bench/request_instructions.sh [build-dir] [seconds] [out-file]
# Prints the count; the profile stays in out-file (default callgrind.request.out) for
# bench/callgrind_costs.py.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
seconds=${2:-10}
out=$(realpath -m "${3:-callgrind.request.out}")

if ! command -v valgrind >/dev/null; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    valgrind
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vhost VtrlSrv regsvr upload_load -j 2 >/dev/null

work=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export PLATFORM_REGISTRY=$work/registry.reg PLATFORM_ACP=65001 TMPDIR=$work/tmp
mkdir -p "$work/tmp" "$work/site/files"
cp bench/site/save.asp "$work/site/"
touch -d '-1 minute' "$work/site/save.asp"
"$build/bin/regsvr" -s "$build/bin/libVtrlSrv.so" >/dev/null

valgrind --tool=callgrind --callgrind-out-file="$out" "$build/bin/vhost" --root "$work/site" \
  --port 0 --access-log off --connection-threads 1 --workers 1 >"$work/out" 2>"$work/err" &
host_pid=$!
port=
for _ in $(seq 300); do
  port=$(sed -n 's/.*http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' "$work/out" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.2
done
[ -n "$port" ] || { echo "request_instructions: the host did not start" >&2; cat "$work/err" >&2; exit 1; }
load=("$build/bin/upload_load" --port "$port" --path /save.asp small --connections 1)
"${load[@]}" --seconds 2 >/dev/null
callgrind_control -z "$host_pid" >/dev/null 2>&1
before=$(find "$work/site/files" -type f | wc -l)
"${load[@]}" --seconds "$seconds" >/dev/null
kill -INT "$host_pid"
wait "$host_pid" 2>/dev/null || true
host_pid=
requests=$(($(find "$work/site/files" -type f | wc -l) - before))
python3 bench/callgrind_costs.py "$out" --per "$requests" --summary
