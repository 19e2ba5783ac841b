#!/usr/bin/env bash
# The script host against a Node.js busboy server, in the same run on the same machine: both
# save every posted file to disk and answer "saved N". The load client (bench/upload_load.cpp)
# posts real multipart bodies over keep-alive connections and counts every answer that is not
# a 200 with that text as a failure. Prints requests per second and latency percentiles for
# small uploads (two fields and a 1 KiB file) at 1 and 16 connections, MB/s for a 100 MB file
# (median of a few), the host's peak resident memory during the big uploads against
# 2.2 x body + 50 MB, and the ratios ours / busboy. Saved files are counted and sized after
# every phase: a server that does not save gives no figure. It also measures what making the
# small files alone costs in the same folder (bench/file_create.cpp), the part of a small
# upload that no server can save, and the ratio that leaves at best.
#   bench/host.sh [build-dir]     (default build-bench, a release build)
# Settings: BENCH_SECONDS (seconds of each small phase for each server, default 5),
# BENCH_REPEAT (big uploads, default 5), BENCH_WORKERS and BENCH_CONNECTION_THREADS (the host's
# worker and connection threads, default the host's own defaults).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
seconds=${BENCH_SECONDS:-5}
repeat=${BENCH_REPEAT:-5}
big=100000000
small_file=1024

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vhost VtrlSrv regsvr upload_load file_create -j 2 >/dev/null
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
files=$work/site/files
mkdir -p "$work/tmp" "$files"
cp bench/site/save.asp "$work/site/"
# A deployed page, not one edited a moment ago (the host compiles those again every time).
touch -d '-1 minute' "$work/site/save.asp"
"$build/bin/regsvr" -s "$build/bin/libVtrlSrv.so" >/dev/null

# The body limit is raised for the 100 MB upload (the busboy server has none); no access log,
# as the busboy server keeps none.
host_args=(--root "$work/site" --port 0 --max-body 101M --access-log off)
[ -n "${BENCH_WORKERS:-}" ] && host_args+=(--workers "$BENCH_WORKERS")
[ -n "${BENCH_CONNECTION_THREADS:-}" ] && host_args+=(--connection-threads "$BENCH_CONNECTION_THREADS")
"$build/bin/vhost" "${host_args[@]}" >"$work/vhost.out" 2>"$work/vhost.out.err" &
host_pid=$!
pids+=("$host_pid")
host_port=$(port_of "$work/vhost.out" '.*http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*' "$host_pid")

node bench/busboy_save.js "$files" >"$work/node.out" 2>"$work/node.out.err" &
node_pid=$!
pids+=("$node_pid")
node_port=$(port_of "$work/node.out" 'listening \([0-9]*\)' "$node_pid")

results=$work/results.txt
: >"$results"
load=("$build/bin/upload_load" --path /save.asp)
declare -A port=([host]=$host_port [node]=$node_port) pid=([host]=$host_pid [node]=$node_pid)
declare -A saved=([host]=0 [node]=0)
echo "bench/host.sh: vhost on port $host_port, busboy on port $node_port" >&2

cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# Checks that the server's files in the save folder are COUNT and that one of them has SIZE
# bytes. Both servers save into one folder, so that the file system's cost of making a file
# is the same for both (it depends on the folder's place on the disk); the busboy server's
# names start with "busboy-".
saved_files() {
  if [ "$1" = host ]; then
    find "$files" -type f -not -name 'busboy-*' "${@:2}"
  else
    find "$files" -type f -name 'busboy-*' "${@:2}"
  fi
}
check_saved() {
  local server=$1 count=$2 size=$3
  local found one got=0
  found=$(saved_files "$server" | wc -l)
  one=$(saved_files "$server" -print -quit)
  [ -n "$one" ] && got=$(stat -c %s "$one")
  if [ "$found" -ne "$count" ] || [ "$got" -ne "$size" ]; then
    echo "bench/host.sh: $server saved $found files (expected $count), one of $got bytes" \
      "(expected $size)" >&2
    echo "check $server invalid" >>"$results"
    return 0
  fi
  echo "check $server ok $found" >>"$results"
}

# The servers take turns in every phase, in slices of a second (which one goes first changes
# every time), so that a change in the machine's load falls on both alike. Each line carries
# the server's CPU time (user + system) during its slice; every latency goes to a file per
# server and phase.
order="host node"
for phase in warm:1 c1:1 c16:16; do
  name=${phase%%:*} connections=${phase##*:}
  slices=$seconds
  [ "$name" = warm ] && slices=1
  for _ in $(seq "$slices"); do
    for server in $order; do
      before=$(cpu_ticks "${pid[$server]}")
      line=$("${load[@]}" --port "${port[$server]}" small --connections "$connections" \
        --seconds 1 --record "$work/latency-$server-$name") || true
      echo "small $server $name $line cpu_ticks $(($(cpu_ticks "${pid[$server]}") - before))" \
        >>"$results"
      ok=$(echo "$line" | awk '{print $2}')
      saved[$server]=$((saved[$server] + ${ok:-0}))
    done
    order=$(echo "$order" | awk '{print $2, $1}')
  done
done
for server in host node; do
  check_saved $server "${saved[$server]}" "$small_file"
done
# Making the files alone, in the same folder as full as the servers left it.
echo "floor $("$build/bin/file_create" "$files" 10000 "$small_file")" >>"$results"
find "$files" -type f -delete

# One big upload each first, not counted, as for the small ones: the first one of a process
# also pays for taking its memory from the system. Peak memory is that of the counted ones:
# the high-water marks start again after it.
for server in host node; do
  "${load[@]}" --port "${port[$server]}" big --bytes "$big" --repeat 1 >/dev/null || true
  find "$files" -type f -delete
  echo 5 >"/proc/${pid[$server]}/clear_refs"
done
for _ in $(seq "$repeat"); do
  for server in $order; do
    before=$(cpu_ticks "${pid[$server]}")
    line=$("${load[@]}" --port "${port[$server]}" big --bytes "$big" --repeat 1) || true
    echo "big $server $line cpu_ticks $(($(cpu_ticks "${pid[$server]}") - before))" >>"$results"
    ok=$(echo "$line" | awk '{print $2}')
    check_saved $server "${ok:-0}" "$big"
    find "$files" -type f -delete
  done
  order=$(echo "$order" | awk '{print $2, $1}')
done
for server in host node; do
  echo "hwm $server $(awk '/^VmHWM:/ {print $2}' "/proc/${pid[$server]}/status")" >>"$results"
done

python3 - "$work" "$(getconf CLK_TCK)" "$small_file" <<'PY'
import os, statistics, sys
work, tick, small_file = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
results = os.path.join(work, "results.txt")
small, checks, hwm, floor = {}, {}, {}, {}
bigs = {s: {"rates": [], "cpu": [], "failures": 0, "body": 0} for s in ("host", "node")}
for line in open(results):
    f = line.split()
    if f[0] == "check":
        checks[f[1]] = checks.get(f[1], True) and f[2] == "ok"
    elif f[0] == "small":
        # The slices of a phase add up; a slice whose client printed nothing is a failure.
        kv = dict(zip(f[3::2], f[4::2]))
        total = small.setdefault((f[1], f[2]), {"ok": 0, "failures": 0, "seconds": 0.0,
                                                 "cpu_ticks": 0})
        total["ok"] += int(kv.get("ok", 0))
        total["failures"] += int(kv.get("failures", 1))
        total["seconds"] += float(kv.get("seconds", 0))
        total["cpu_ticks"] += int(kv.get("cpu_ticks", 0))
    elif f[0] == "big":
        b = bigs[f[1]]
        b["failures"] += int(f[f.index("failures") + 1]) if "failures" in f else 1
        b["body"] = int(f[f.index("body") + 1]) if "body" in f else 0
        b["rates"] += [float(x) for x in f[f.index("mbps") + 1:f.index("cpu_ticks")]]
        b["cpu"].append(int(f[-1]) / tick)
    elif f[0] == "hwm":
        hwm[f[1]] = int(f[2]) * 1024
    elif f[0] == "floor":
        floor = dict(zip(f[1::2], f[2::2]))
names = {"host": "vhost", "node": "busboy"}

def percentile(sorted_values, p):
    if not sorted_values:
        return 0.0
    return sorted_values[min(len(sorted_values) - 1, int(p / 100 * (len(sorted_values) - 1) + 0.5))]

for (s, phase), total in small.items():
    total["rps"] = total["ok"] / total["seconds"] if total["seconds"] else 0.0
    path = os.path.join(work, f"latency-{s}-{phase}")
    latencies = sorted(float(x) for x in open(path)) if os.path.exists(path) else []
    for p in (50, 90, 99):
        total[f"p{p}_ms"] = percentile(latencies, p)

def small_value(s, phase, key, default=0.0):
    return float(small.get((s, phase), {}).get(key, default))

print("Small uploads (two fields and a 1 KiB file), keep-alive connections, the servers taking")
print("turns in slices of a second:")
print(f"{'server':8} {'conns':>5} {'req/s':>8} {'p50 ms':>7} {'p90 ms':>7} {'p99 ms':>7} "
      f"{'CPU ms/req':>10} {'ok':>7} {'failed':>6}")
for phase, conns in (("c1", 1), ("c16", 16)):
    for s in names:
        r = small.get((s, phase), {})
        n = small_value(s, phase, "ok")
        cpu = small_value(s, phase, "cpu_ticks") / tick * 1000 / n if n else 0
        print(f"{names[s]:8} {conns:>5} {small_value(s, phase, 'rps'):>8.0f} "
              f"{small_value(s, phase, 'p50_ms'):>7.2f} {small_value(s, phase, 'p90_ms'):>7.2f} "
              f"{small_value(s, phase, 'p99_ms'):>7.2f} {cpu:>10.3f} {r.get('ok', '-'):>7} "
              f"{r.get('failures', '-'):>6}")

def median(values):
    return statistics.median(values) if values else 0.0

print(f"\n100 MB upload (one file; the servers take turns; median of "
      f"{len(bigs['host']['rates'])}):")
print(f"{'server':8} {'MB/s':>6} {'each run':>30} {'CPU s':>6} {'failed':>6} {'peak RSS MB':>11}")
for s in names:
    b = bigs[s]
    runs = " ".join(f"{x:.0f}" for x in b["rates"])
    print(f"{names[s]:8} {median(b['rates']):>6.0f} {runs:>30} {median(b['cpu']):>6.2f} "
          f"{b['failures']:>6} {hwm.get(s, 0) / 1e6:>11.1f}")

def ratio(a, b):
    return a / b if b else 0.0

failures = sum(int(small_value(s, p, "failures", 1)) for s in names for p in ("warm", "c1", "c16"))
failures += sum(b["failures"] for b in bigs.values())
valid = failures == 0 and all(checks.get(s, False) for s in names)
print("\nRatios, ours / busboy, same run:")
print(f"  small uploads, req/s at 16 connections: "
      f"{ratio(small_value('host', 'c16', 'rps'), small_value('node', 'c16', 'rps')):.2f} "
      f"(target >= 2)")
print(f"  small uploads, req/s at 1 connection:   "
      f"{ratio(small_value('host', 'c1', 'rps'), small_value('node', 'c1', 'rps')):.2f}")

def cpu_per_request(s, phase):
    return ratio(small_value(s, phase, "cpu_ticks"), small_value(s, phase, "ok"))

print(f"  small uploads, requests per CPU second at 16 connections (the load of the rest of the")
print(f"  machine counts less here): "
      f"{ratio(cpu_per_request('node', 'c16'), cpu_per_request('host', 'c16')):.2f}")
file_ms = float(floor.get("cpu_ms_per_file", 0))
if file_ms:
    node_ms = 1000 * cpu_per_request("node", "c16") / tick
    print(f"  making a {small_file}-byte file alone (exclusive create, write, close) in the same folder:")
    print(f"  {file_ms:.3f} CPU ms, against busboy's {node_ms:.3f} CPU ms per request: a server")
    print(f"  whose own work cost nothing would reach {ratio(node_ms, file_ms):.2f} x busboy's "
          f"requests per CPU second")
print(f"  100 MB upload, MB/s:                    "
      f"{ratio(median(bigs['host']['rates']), median(bigs['node']['rates'])):.2f} (target >= 1.5)")
body = bigs["host"]["body"]
bound = 2.2 * body + 50e6
print(f"vhost peak RSS during the 100 MB uploads: {hwm.get('host', 0) / 1e6:.1f} MB against "
      f"2.2 x body + 50 MB = {bound / 1e6:.1f} MB ({ratio(hwm.get('host', 0), bound):.2f} of it)")
if not valid:
    print("\nNOT VALID: failed requests or files not saved as expected (see above)")
    sys.exit(1)
PY
