#!/usr/bin/env bash
# Installs what is needed, builds and runs every test.
#   scripts/test.sh            normal build in build/ (optimised, without debug information)
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/,
#                              with clang at -O1 with debug information, which also builds the
#                              fuzz harnesses (scripts/fuzz.sh); the tests labelled
#                              no_sanitizer_gain (the browser test) are left to the normal build
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build
# The release build's optimisation without its debug information, which costs compile time
# and serves no test; the sanitizer build keeps it for its reports.
cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"
            "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG")
ctest_args=()
if [ "${1:-}" = "--sanitize" ]; then
  build_dir=build-asan
  # The benchmarks are built (and so kept building) by the normal build only. clang builds it
  # so that the fuzz harnesses come from the same instrumented libraries, and so that the code
  # keeps building with a second compiler. -O1, which the sanitizers advise for speed,
  # keeps the assertions on (no NDEBUG).
  cmake_args=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1" "-DCMAKE_C_FLAGS_DEBUG=-g -O1"
              -DVANTREL_SANITIZE=ON -DVANTREL_BUILD_BENCHMARKS=OFF
              -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON)
  # What these tests check lies outside the instrumented code (a real browser's behaviour);
  # the code they reach is run under the sanitizers by the host's own tests.
  ctest_args=(-LE no_sanitizer_gain)
fi

bash scripts/setup.sh
cmake -S . -B "$build_dir" -G Ninja "${cmake_args[@]}"
cmake --build "$build_dir" -j "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:strict_string_checks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" "${ctest_args[@]}"
