#!/usr/bin/env bash
# Builds and runs the libFuzzer harnesses of fuzz/ with their seeds and dictionaries.
#
#   scripts/fuzz.sh [options] [harness...]     every harness when none is named
#
#   --time S        seconds per harness (default 600)
#   --runs N        also stop a harness once it has run N inputs
#   --jobs N        harnesses running at once (default 1)
#   --work DIR      where the grown corpora, crash inputs and logs go (default
#                   $VANTREL_FUZZ_WORK, else ~/.cache/vantrel-fuzz); never the repository
#   --build-dir DIR the build to use (default build-fuzz: clang at -O1 with AddressSanitizer and
#                   UndefinedBehaviorSanitizer, the fuzzers and what they load only)
#   --seed N        libFuzzer's random seed (default: a new one each run)
#   --ci            CI's short run: the sanitizer build of scripts/test.sh --sanitize
#                   (build-asan), seed 1 and a fixed number of runs per harness (about 15 s each
#                   on a 2-core machine, 60 s at most), two at a time, corpora grown in a
#                   temporary folder and dropped. The same tree fuzzes the same inputs each time,
#                   so CI fails only on a fault that is still there (options after it change
#                   those settings)
#   --list          the harnesses' names
#
# Each harness starts from its grown corpus, fuzz/corpus/<name> and fuzz/regressions/<name>, and
# adds what it finds to the grown corpus only. A crash leaves its input in <work>/<name>/crashes/
# and fails the run; the script prints the input in hex. Replay one with
#   <build>/bin/<name>_fuzzer <file>
set -euo pipefail
cd "$(dirname "$0")/.."

harnesses=(upload_start kamsutil_encode kamsutil_format idl_parse reg_read rgs_run page_compile
           kazlib_inflate)

time_limit=600
runs=""
seed=""
jobs=1
work="${VANTREL_FUZZ_WORK:-$HOME/.cache/vantrel-fuzz}"
build_dir=build-fuzz
ci=0
chosen=()
while (($#)); do
  case "$1" in
    --time) time_limit="$2"; shift 2 ;;
    --runs) runs="$2"; shift 2 ;;
    --seed) seed="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --ci) ci=1; build_dir=build-asan; time_limit=60; seed=1; jobs=2; shift ;;
    --list) printf '%s\n' "${harnesses[@]}"; exit 0 ;;
    -h|--help) sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz: unknown option $1" >&2; exit 2 ;;
    *) chosen+=("$1"); shift ;;
  esac
done
((${#chosen[@]})) || chosen=("${harnesses[@]}")
for name in "${chosen[@]}"; do
  [[ " ${harnesses[*]} " == *" $name "* ]] || { echo "fuzz: no harness $name" >&2; exit 2; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
((ci)) && work="$scratch/work"

bash scripts/setup.sh
if ((ci)); then
  # scripts/test.sh --sanitize configured and built it; this only makes sure.
  cmake --build "$build_dir" -j "$(nproc)" --target fuzzers
else
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1" \
    -DVANTREL_SANITIZE=ON -DVANTREL_FUZZ=ON -DVANTREL_FUZZ_TRACE_CMP=ON -DVANTREL_BUILD_TESTS=OFF \
    -DVANTREL_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$build_dir" -j "$(nproc)" --target fuzzers
fi

# CI's runs of a harness: about 15 s of the sanitizer build each, two harnesses at a time.
ci_runs() {
  case "$1" in
    kamsutil_format) echo 200000 ;;
    kamsutil_encode) echo 100000 ;;
    idl_parse|kazlib_inflate) echo 25000 ;;
    upload_start) echo 15000 ;;
    page_compile) echo 10000 ;;
    reg_read) echo 8000 ;;
    rgs_run) echo 5000 ;;
  esac
}

# Longest input a harness makes: room for whole browser bodies and interface files.
max_len() {
  case "$1" in
    upload_start|idl_parse) echo 16384 ;;
    *) echo 4096 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The harnesses' files, registries and KaMsUtil's settings block stay away from the user's.
export VANTREL_FUZZ_SCRATCH="$scratch"
export PLATFORM_REGISTRY="$scratch/registry.reg"
export KAMSUTIL_SETTINGS_NAME="KaMsUtilFuzz.$$"

run_one() {
  local name="$1" dir="$work/$1"
  mkdir -p "$dir/corpus" "$dir/crashes"
  local args=("$dir/corpus" "fuzz/corpus/$name")
  [ -d "fuzz/regressions/$name" ] && args+=("fuzz/regressions/$name")
  [ -f "fuzz/dict/$name.dict" ] && args+=("-dict=fuzz/dict/$name.dict")
  args+=("-max_total_time=$time_limit")
  if [ -n "$runs" ]; then
    args+=("-runs=$runs")
  elif ((ci)); then
    args+=("-runs=$(ci_runs "$name")")
  fi
  [ -n "$seed" ] && args+=("-seed=$seed")
  # The targets' own output (the registry's reports of damaged files...) is dropped; libFuzzer
  # and the sanitizers still report.
  "$build_dir/bin/${name}_fuzzer" "${args[@]}" -max_len="$(max_len "$name")" \
    -artifact_prefix="$dir/crashes/" -close_fd_mask=3 -print_final_stats=1 >"$dir/log" 2>&1
}

report() {
  local name="$1" status="$2" dir="$work/$1"
  local executed rate
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/log" | tail -1)
  printf '%-16s %-6s %12s runs %8s/s  corpus %s files\n' "$name" \
    "$([ "$status" -eq 0 ] && echo ok || echo FAILED)" "${executed:-?}" "${rate:-?}" \
    "$(find "$dir/corpus" -type f | wc -l)"
  if [ "$status" -ne 0 ]; then
    grep -E 'ERROR|SUMMARY|check failed|^ +#[0-9]+ ' "$dir/log" | head -40 || true
    for crash in "$dir"/crashes/*; do
      [ -f "$crash" ] || continue
      echo "input $crash:"
      od -An -tx1 -v "$crash" | head -64
    done
  fi
}

echo "fuzz: ${#chosen[@]} harnesses, at most ${time_limit} s${runs:+ or $runs runs}$( ((ci)) && echo " or CI's runs") each${seed:+, seed $seed}, $jobs at a time, work in $work"
declare -A pid_of
failed=0
pending=("${chosen[@]}")
running=0
finish_one() {
  local done_pid name status=0
  wait -n -p done_pid || status=$?
  for name in "${!pid_of[@]}"; do
    if [ "${pid_of[$name]}" = "$done_pid" ]; then
      report "$name" "$status"
      unset "pid_of[$name]"
    fi
  done
  ((status == 0)) || failed=1
  running=$((running - 1))
}
for name in "${pending[@]}"; do
  ((running < jobs)) || finish_one
  run_one "$name" &
  pid_of[$name]=$!
  running=$((running + 1))
done
while ((running > 0)); do finish_one; done
exit "$failed"
