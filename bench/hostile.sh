#!/usr/bin/env bash
# What hostile multipart bodies of the largest size the host accepts cost it: for each body of
# bench/hostile_bodies.py (1-byte fields, empty parts, 4 KiB header lines, long names, a preamble
# without end, boundaries of 70 and 4,000 characters) a fresh host takes it apart on a page that
# counts the fields and files. Prints the status, the time against a plain file
# upload of the same size (limit 10x), and the host's peak resident memory against
# 3 x body + 50 MB, and the page's answer (the counts, or why the body was refused).
#   bench/hostile.sh [build-dir]     (default build-bench, a release build)
# Settings: HOSTILE_SIZE (body bytes, default 31000000, just under the host's 30M default limit).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
size=${HOSTILE_SIZE:-31000000}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vhost VtrlSrv regsvr -j 2 >/dev/null

work=$(mktemp -d)
host_pid=
cleanup() {
  if [ -n "$host_pid" ]; then
    kill "$host_pid" 2>/dev/null || true
    wait "$host_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export PLATFORM_REGISTRY=$work/registry.reg TMPDIR=$work/tmp PLATFORM_ACP=65001
mkdir -p "$work/tmp" "$work/site" "$work/bodies"
cp bench/site/count.asp "$work/site/"
"$build/bin/regsvr" -s "$build/bin/libVtrlSrv.so" >/dev/null
python3 bench/hostile_bodies.py "$work/bodies" "$size"

# Starts a host and sets host_pid and host_port.
start_host() {
  "$build/bin/vhost" --root "$work/site" --port 0 --access-log off >"$work/vhost.out" \
    2>"$work/vhost.err" &
  host_pid=$!
  host_port=
  for _ in $(seq 100); do
    host_port=$(sed -n 's/.*http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' "$work/vhost.out")
    [ -n "$host_port" ] && return 0
    sleep 0.1
  done
  echo "bench/hostile.sh: the host did not start" >&2
  cat "$work/vhost.err" >&2
  exit 1
}

stop_host() {
  kill "$host_pid"
  wait "$host_pid" 2>/dev/null || true
  host_pid=
}

limit_kb=$(((3 * size + 50 * 1024 * 1024) / 1024))
printf '%-11s %6s %8s %7s %9s %7s  %s\n' body status seconds x_file peak_MB x_limit answer
reference=
for case in file fields empty headers longnames preamble boundary70 boundary4k; do
  start_host
  # The first page of a host makes its script heap; that is no cost of the body.
  curl -s -o /dev/null "http://127.0.0.1:$host_port/count.asp"
  out=$(curl -s -w '\n%{http_code} %{time_total}' -H "Content-Type: $(cat "$work/bodies/$case.type")" \
    --data-binary "@$work/bodies/$case.body" "http://127.0.0.1:$host_port/count.asp")
  answer=$(echo "$out" | head -n 1 | tr -d "\r")
  read -r status seconds <<<"$(echo "$out" | tail -n 1)"
  peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$host_pid/status")
  stop_host
  [ -z "$reference" ] && reference=$seconds
  printf '%-11s %6s %8.3f %7.2f %9.1f %7.2f  %s\n' "$case" "$status" "$seconds" \
    "$(echo "$seconds / $reference" | bc -l)" "$(echo "$peak / 1024" | bc -l)" \
    "$(echo "$peak / $limit_kb" | bc -l)" "${answer:0:110}"
done
