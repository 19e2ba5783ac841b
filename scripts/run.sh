#!/usr/bin/env bash
# Installs what is needed and builds everything. (Starting the script host on the example site
# joins this once the host exists.)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
echo "Built into build/bin."
