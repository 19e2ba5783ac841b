#!/usr/bin/env bash
# The parse benchmark: the upload object's page start against memcpy, a memmem cutter and
# busboy (installed from npm here), on the same bodies in the same run. Prints MB/s and ratios,
# for each CPU.
#   bench/parse.sh [build-dir]     (default build-bench, a release build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target parse_bench -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/parse_bench" --write "$work"
(cd bench && [ -d node_modules/busboy ] || npm install --no-audit --no-fund --silent busboy@1 >/dev/null)

# Each benchmark runs in a process of its own: one that ran after the 64 MiB ones inherited a
# C heap shaped by their blocks, and its speed then changed by half from run to run.
# And every program runs on one CPU, all of them on the same one, once on each CPU: the CPUs of
# a virtual machine need not be equal (on the machine this was written on, one ran these
# programs at two thirds of the other's speed), and a ratio of two programs that the scheduler
# put on different CPUs measured the CPUs.
cpus=$(python3 -c 'import os; print(" ".join(map(str, sorted(os.sched_getaffinity(0)))))')
for cpu in $cpus; do
  : > "$work/cpp.$cpu.csv"
  for name in $("$build/bin/parse_bench" --benchmark_list_tests); do
    taskset -c "$cpu" "$build/bin/parse_bench" --benchmark_filter="^$name\$" \
      --benchmark_format=csv --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
      2>/dev/null | grep '_median' >> "$work/cpp.$cpu.csv"
  done
  taskset -c "$cpu" node bench/busboy_parse.js "$work" > "$work/js.$cpu.txt"
done

python3 - "$work" $cpus <<'PY'
import csv, sys, os
work = sys.argv[1]
for cpu in sys.argv[2:]:
    rates = {}
    for row in csv.reader(open(os.path.join(work, f"cpp.{cpu}.csv"))):
        name = row[0].replace("_median", "")
        rates[name] = float(row[5]) / 1e6  # bytes_per_second
    js = dict(line.split() for line in open(os.path.join(work, f"js.{cpu}.txt")))
    print(f"CPU {cpu}:")
    for arg, label, jsfile in (("0", "64 MiB file", "big.body"), ("1", "10,000 fields", "fields.body")):
        ours = rates[f"BM_OnStartPage/{arg}"]
        mem = rates[f"BM_Memcpy/{arg}"]
        cut = rates[f"BM_MemmemCutter/{arg}"]
        bb = float(js[jsfile])
        copying = rates[f"BM_OnStartPageCopyingRequest/{arg}"]
        print(f"  {label}: OnStartPage {ours:.0f} MB/s; memcpy {mem:.0f}; memmem cutter {cut:.0f}; busboy {bb:.0f}")
        print(f"    ratios: {ours/mem:.2f} x memcpy, {ours/cut:.2f} x memmem cutter, {ours/bb:.2f} x busboy")
        print(f"    with a request that copies the body on each read: {copying:.0f} MB/s, "
              f"{copying/mem:.2f} x memcpy, {copying/bb:.2f} x busboy")
PY
