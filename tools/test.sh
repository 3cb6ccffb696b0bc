#!/bin/bash
# Installs what is missing, builds everything (native, Windows) and runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${BUILD_DIR:-build}
cmake --preset native -B "$build"
cmake --build "$build"
cd "$build"
ctest --output-on-failure -j2 --timeout 1200
