#!/usr/bin/env bash
# The script host against a Node.js busboy server, in the same run on the same machine: both
# save every posted file to disk and answer "saved N". The load client (bench/upload_load.cpp)
# posts real multipart bodies over keep-alive connections and counts every answer that is not
# a 200 with that text as a failure. Prints requests per second and latency percentiles for
# small uploads (two fields and a 1 KiB file) at 1 and 16 connections, MB/s for a 100 MB file
# (median of a few), the host's peak resident memory during the big uploads against
# 2.2 x body + 50 MB, and the ratios ours / busboy. Saved files are counted and sized after
# every phase: a server that does not save gives no figure.
#   bench/host.sh [build-dir]     (default build-bench, a release build)
# Settings: BENCH_SECONDS (each small phase, default 5), BENCH_REPEAT (big uploads, default
# 3), BENCH_WORKERS (the host's worker threads, default the host's own default).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
seconds=${BENCH_SECONDS:-5}
repeat=${BENCH_REPEAT:-3}
big=100000000
small_file=1024

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vhost VtrlSrv regsvr upload_load -j 2 >/dev/null
(cd bench && [ -d node_modules/busboy ] || npm install --no-audit --no-fund --silent busboy@1 >/dev/null)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits for a server's start line in its output file and prints the port in it.
port_of() {
  local file=$1 pattern=$2 pid=$3
  for _ in $(seq 100); do
    local port
    port=$(sed -n "s/$pattern/\1/p" "$file")
    port=${port%%$'\n'*}
    if [ -n "$port" ]; then
      echo "$port"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "bench/host.sh: a server did not start; its output:" >&2
  cat "$file" "$file.err" >&2 || true
  return 1
}

export PLATFORM_REGISTRY=$work/registry.reg PLATFORM_ACP=65001 TMPDIR=$work/tmp
mkdir -p "$work/tmp" "$work/site/files" "$work/node-files"
cp bench/site/save.asp "$work/site/"
"$build/bin/regsvr" -s "$build/bin/libVtrlSrv.so" >/dev/null

host_args=(--root "$work/site" --port 0 --max-body 101M --access-log off)
[ -n "${BENCH_WORKERS:-}" ] && host_args+=(--workers "$BENCH_WORKERS")
"$build/bin/vhost" "${host_args[@]}" >"$work/vhost.out" 2>"$work/vhost.out.err" &
host_pid=$!
pids+=("$host_pid")
host_port=$(port_of "$work/vhost.out" '.*http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*' "$host_pid")

node bench/busboy_save.js "$work/node-files" >"$work/node.out" 2>"$work/node.out.err" &
node_pid=$!
pids+=("$node_pid")
node_port=$(port_of "$work/node.out" 'listening \([0-9]*\)' "$node_pid")

results=$work/results.txt
: >"$results"
load=("$build/bin/upload_load" --path /save.asp)

# Checks that DIR holds COUNT files and that the first of them has SIZE bytes.
check_saved() {
  local server=$1 dir=$2 count=$3 size=$4
  local found one
  found=$(find "$dir" -type f | wc -l)
  one=$(find "$dir" -type f -print -quit)
  local got=0
  [ -n "$one" ] && got=$(stat -c %s "$one")
  if [ "$found" -ne "$count" ] || [ "$got" -ne "$size" ]; then
    echo "bench/host.sh: $server saved $found files (expected $count), one of $got bytes" \
      "(expected $size)" >&2
    echo "check $server invalid" >>"$results"
    return 0
  fi
  echo "check $server ok $found" >>"$results"
}

for server in host node; do
  if [ $server = host ]; then
    port=$host_port pid=$host_pid dir=$work/site/files
  else
    port=$node_port pid=$node_pid dir=$work/node-files
  fi
  echo "bench/host.sh: $server on port $port" >&2
  saved=0
  for phase in warm:1 c1:1 c16:16; do
    name=${phase%%:*} connections=${phase##*:}
    phase_seconds=$seconds
    [ "$name" = warm ] && phase_seconds=1
    line=$("${load[@]}" --port "$port" small --connections "$connections" \
      --seconds "$phase_seconds") || true
    echo "small $server $name $line" >>"$results"
    saved=$((saved + $(echo "$line" | awk '{print $2}')))
  done
  check_saved $server "$dir" "$saved" "$small_file"
  find "$dir" -type f -delete

  # Peak memory of the big uploads alone: the high-water mark starts again from here.
  echo 5 >"/proc/$pid/clear_refs"
  line=$("${load[@]}" --port "$port" big --bytes "$big" --repeat "$repeat") || true
  hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
  echo "big $server $line hwm_kb $hwm" >>"$results"
  check_saved $server "$dir" "$(echo "$line" | awk '{print $2}')" "$big"
  find "$dir" -type f -delete
done

python3 - "$results" <<'PY'
import statistics, sys
results = sys.argv[1]
small, bigs, checks = {}, {}, {}
for line in open(results):
    f = line.split()
    if f[0] == "check":
        checks[f[1]] = checks.get(f[1], True) and f[2] == "ok"
    elif f[0] == "small":
        kv = dict(zip(f[3::2], f[4::2]))
        small[(f[1], f[2])] = kv
    elif f[0] == "big":
        i = f.index("mbps")
        rates = [float(x) for x in f[i + 1:f.index("hwm_kb")]]
        bigs[f[1]] = {"ok": int(f[3]), "failures": int(f[5]), "rates": rates,
                      "hwm": int(f[-1]) * 1024, "body": int(f[f.index("body") + 1])}
names = {"host": "vhost", "node": "busboy"}
valid = {s: checks.get(s, False) for s in names}
print("Small uploads (two fields and a 1 KiB file), keep-alive:")
print(f"{'server':8} {'conns':>5} {'req/s':>9} {'p50 ms':>8} {'p90 ms':>8} {'p99 ms':>8} {'ok':>7} {'failed':>6}")
for s in names:
    for phase, conns in (("c1", 1), ("c16", 16)):
        r = small.get((s, phase), {})
        print(f"{names[s]:8} {conns:>5} {float(r.get('rps', 0)):>9.0f} {float(r.get('p50_ms', 0)):>8.2f} "
              f"{float(r.get('p90_ms', 0)):>8.2f} {float(r.get('p99_ms', 0)):>8.2f} "
              f"{r.get('ok', '-'):>7} {r.get('failures', '-'):>6}")
print(f"\n100 MB upload (one file, {len(bigs.get('host', {}).get('rates', []))} times, median):")
print(f"{'server':8} {'MB/s':>7} {'runs':>24} {'failed':>6} {'peak RSS MB':>12}")
for s in names:
    b = bigs.get(s, {"rates": [], "failures": "-", "hwm": 0})
    med = statistics.median(b["rates"]) if b["rates"] else 0
    runs = " ".join(f"{x:.0f}" for x in b["rates"])
    print(f"{names[s]:8} {med:>7.0f} {runs:>24} {b['failures']:>6} {b['hwm'] / 1e6:>12.1f}")

def rate(s, phase):
    return float(small.get((s, phase), {}).get("rps", 0))
def failures(s):
    n = sum(int(small.get((s, p), {}).get("failures", 1)) for p in ("warm", "c1", "c16"))
    return n + int(bigs.get(s, {}).get("failures", 1))
ok = all(valid.values()) and failures("host") == 0 and failures("node") == 0
print("\nRatios (ours / busboy, same run):")
r16 = rate("host", "c16") / rate("node", "c16") if rate("node", "c16") else 0
print(f"  small uploads at 16 connections: {r16:.2f} (target >= 2)")
r1 = rate("host", "c1") / rate("node", "c1") if rate("node", "c1") else 0
print(f"  small uploads at 1 connection:   {r1:.2f}")
hb = statistics.median(bigs["host"]["rates"]) if bigs.get("host", {}).get("rates") else 0
nb = statistics.median(bigs["node"]["rates"]) if bigs.get("node", {}).get("rates") else 0
print(f"  100 MB MB/s: {hb / nb if nb else 0:.2f} (target >= 1.5)")
body = bigs.get("host", {}).get("body", 0)
bound = 2.2 * body + 50e6
hwm = bigs.get("host", {}).get("hwm", 0)
print(f"  vhost peak RSS {hwm / 1e6:.1f} MB against 2.2 x body + 50 MB = {bound / 1e6:.1f} MB: "
      f"{hwm / bound:.2f} of the bound")
if not ok:
    print("\nNOT VALID: failed requests or files not saved as expected (see above)")
    sys.exit(1)
PY
