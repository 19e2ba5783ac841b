#!/usr/bin/env bash
# The host's CPU per small upload in two builds (say, before and after a change), in the same
# run: each build's host runs with its own libraries and registry, and the two take turns in
# one-second slices of small uploads at 16 connections (which goes first alternates), so that a
# change in the machine's load falls on both alike. A difference of a few percent shows here
# that separate runs of bench/host.sh cannot tell from the load's. Prints each build's requests
# per second and CPU milliseconds per request, and their ratio (above 1: the second build takes
# less CPU per request).
#   bench/ab_builds.sh OLD-BUILD-DIR NEW-BUILD-DIR [slices] [connections]
# AB_OLD_ARGS and AB_NEW_ARGS add options to each host (say, two thread counts of one build).
# Both build directories need vhost, VtrlSrv, regsvr and upload_load built (bench/host.sh's
# targets), for example a Release build of another commit's worktree.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 2 ] || { sed -n '2,12p' "$0" >&2; exit 2; }
declare -A build=([old]=$(realpath "$1") [new]=$(realpath "$2"))
declare -A args=([old]=${AB_OLD_ARGS:-} [new]=${AB_NEW_ARGS:-})
slices=${3:-10}
connections=${4:-16}
load=${build[new]}/bin/upload_load

work=$(mktemp -d)
declare -A pid port ticks requests
cleanup() {
  for server in "${pid[@]}"; do
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

export PLATFORM_ACP=65001 TMPDIR=$work
for v in old new; do
  b=${build[$v]}
  mkdir -p "$work/$v/files"
  cp bench/site/save.asp "$work/$v/"
  touch -d '-1 minute' "$work/$v/save.asp"
  PLATFORM_REGISTRY=$work/$v.reg "$b/bin/regsvr" -s "$b/bin/libVtrlSrv.so" >/dev/null
  # shellcheck disable=SC2086 # the added options are words
  PLATFORM_REGISTRY=$work/$v.reg "$b/bin/vhost" --root "$work/$v" --port 0 --access-log off \
    ${args[$v]} >"$work/$v.out" 2>&1 &
  pid[$v]=$!
done
for v in old new; do
  for _ in $(seq 100); do
    port[$v]=$(sed -n 's/.*127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/$v.out" | head -n 1)
    [ -n "${port[$v]}" ] && break
    sleep 0.1
  done
  [ -n "${port[$v]}" ] || { echo "ab_builds: the $v host did not start" >&2; cat "$work/$v.out" >&2; exit 1; }
  # A warm-up, not counted.
  "$load" --port "${port[$v]}" --path /save.asp small --connections "$connections" --seconds 1 \
    >/dev/null
  ticks[$v]=0
  requests[$v]=0
done

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
order="old new"
for _ in $(seq "$slices"); do
  for v in $order; do
    before=$(cpu_ticks "${pid[$v]}")
    ok=$("$load" --port "${port[$v]}" --path /save.asp small --connections "$connections" \
      --seconds 1 | sed -n 's/^ok \([0-9]*\).*/\1/p')
    ticks[$v]=$((ticks[$v] + $(cpu_ticks "${pid[$v]}") - before))
    requests[$v]=$((requests[$v] + ${ok:-0}))
  done
  order=$(echo "$order" | awk '{print $2, $1}')
done

hz=$(getconf CLK_TCK)
for v in old new; do
  awk -v v="$v" -v t="${ticks[$v]}" -v n="${requests[$v]}" -v s="$slices" -v hz="$hz" \
    'BEGIN { printf "%s: %d req/s, %.4f CPU ms per request\n", v, n / s, t * 1000 / hz / n }'
done
awk -v to="${ticks[old]}" -v no="${requests[old]}" -v tn="${ticks[new]}" -v nn="${requests[new]}" \
  'BEGIN { printf "CPU per request, old / new: %.3f\n", (to / no) / (tn / nn) }'
