#!/bin/bash
# Builds the launcher and runs its main job under Wine against a local demo update server on
# 127.0.0.1:8460 serving a sample game; saves a screenshot and prints Launcher_log.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${BUILD_DIR:-build-demo}

# The publisher tool and the stand-in client come from the native and Windows builds.
cmake --preset release -B "$build/native" >/dev/null
cmake --build "$build/native" --target publish_manifest

# The shipped program is 32-bit; where this machine cannot run 32-bit programs, the demo runs the
# 64-bit build of the same sources.
cmake --preset windows-i686 -B "$build/windows-i686" >/dev/null
cmake --build "$build/windows-i686" --target Launcher driver standin_client
windows="$build/windows-i686"
if ! bash tools/wine.sh --can-run-32; then
    echo "demo: this machine cannot run 32-bit programs; running the 64-bit build of the same sources"
    windows="$build/windows-x86_64"
    cmake --preset windows-x86_64 -B "$windows" >/dev/null
    cmake --build "$windows" --target Launcher driver standin_client
fi

exec python3 tools/demo.py --bin "$windows/bin" --native-bin "$build/native/bin" --work "$build/run"
