#!/bin/bash
# Installs what is missing, builds everything (native, Windows) and runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j2 --timeout 1200
