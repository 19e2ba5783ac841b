#!/usr/bin/env bash
# The database benchmark: SaveDb and DownFromDb of 64 MiB against SQLite's own blob write and
# read of the same bytes, and on a PostgreSQL server against libpq's own write and read,
# interleaved in one run, and the compressed save and decompressed send of text. Builds the
# release benchmark, starts a PostgreSQL server of its own (tests/support/pg_server.sh: a Unix
# socket, no durability, as the tests' server), runs it with repetitions and prints the median
# MB/s of each, with the lowest and highest, and the ratios ours / SQLite's and ours / libpq's.
#   bench/db_save_download.sh [build-dir] [repetitions]   (defaults: build-bench, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
repetitions=${2:-3}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target db_save_download_bench -j 2 >/dev/null

out=$(mktemp)
pg_dir=$(mktemp -u /tmp/vantrel-pg-bench-XXXXXX)
trap 'rm -f "$out"; bash tests/support/pg_server.sh stop "$pg_dir"' EXIT
bash tests/support/pg_server.sh start "$pg_dir" >/dev/null
VANTREL_TEST_PG_DIR=$pg_dir "$build/bin/db_save_download_bench" --benchmark_format=json \
  --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true >"$out"

python3 - "$out" <<'PY'
import json, statistics, sys

data = json.load(open(sys.argv[1]))
runs = {}
failed = False
for r in data["benchmarks"]:
    if r.get("error_occurred"):
        print(f"FAILED {r['name']}: {r.get('error_message', '')}")
        failed = True
        continue
    if r.get("run_type") != "iteration":
        continue
    # "BM_SqliteRead/KeptBlock/0/real_time" is SqliteRead/KeptBlock, "BM_SaveDb/SaveDb/..." SaveDb
    parts = r["run_name"][3:].split("/")[:-2]
    name = parts[0] if parts[1:] == parts[:1] else "/".join(parts)
    runs.setdefault(name, {})[r.get("repetition_index", 0)] = (
        r["bytes_per_second"] / 1e6, r.get("label", ""))
if failed:
    sys.exit(1)

print(f"journal_mode/synchronous: {data['context'].get('journal_mode/synchronous')}")
print(f"{'benchmark':24} {'input':7} {'MB/s':>7}  {'low':>7} {'high':>7}  reps")
for name, reps in runs.items():
    rates = [rate for rate, _ in reps.values()]
    label = next(iter(reps.values()))[1]
    print(f"{name:24} {label:7} {statistics.median(rates):7.1f}  {min(rates):7.1f} "
          f"{max(rates):7.1f}  {len(rates)}")

def ratio(ours, reference, what):
    a, b = runs.get(ours), runs.get(reference)
    if not a or not b:
        return
    median = statistics.median(r for r, _ in a.values()) / statistics.median(
        r for r, _ in b.values())
    paired = [a[i][0] / b[i][0] for i in a if i in b]
    print(f"{what:34} {median:5.2f} x  (per repetition {min(paired):.2f} to {max(paired):.2f})")

print("ratios ours / SQLite (medians of MB/s):")
ratio("SaveDb", "SqliteWrite", "write: SaveDb / bind_blob+step")
ratio("DownFromDb", "SqliteRead/KeptBlock", "read: DownFromDb / column_blob+copy")
ratio("DownFromDb", "SqliteRead/NewBlock", "  the same, copy into a new block")
ratio("DownFromDb", "SqliteBlobRead/KeptBlock", "  lower bound: sqlite3_blob_read")
print("ratios ours / libpq's on PostgreSQL (medians of MB/s):")
ratio("SaveDb/PostgreSQL", "PgWrite", "write: SaveDb / PQexecParams bytea")
ratio("DownFromDb/PostgreSQL", "PgRead", "read: DownFromDb / PQexecParams+copy")
PY
