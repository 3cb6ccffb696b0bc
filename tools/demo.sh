#!/bin/bash
# Builds the launcher and runs its main job under Wine against a local demo update server on
# 127.0.0.1:8460 serving a signed sample game; saves a screenshot and prints Launcher_log.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
build=${BUILD_DIR:-build-demo}

# The publisher tool and the stand-in client come from the native and Windows builds.
cmake --preset release -B "$build/native" >/dev/null
cmake --build "$build/native" --target publish_manifest

# The demo publisher's key pair, made once in the build tree (never committed); the launcher is built with its
# public half and the sample game is signed with the private one.
key="$build/keys/demo-publisher"
if [ ! -f "$key.key" ] || [ ! -f "$key.pub" ]; then
    mkdir -p "$build/keys"
    rm -f "$key.key" "$key.pub"
    "$build/native/bin/publish_manifest" --make-key "$key"
fi

# The shipped program is 32-bit; where this machine cannot run 32-bit programs, the demo runs the
# 64-bit build of the same sources.
cmake --preset windows-i686 -B "$build/windows-i686"  -DLAUNCHER_MANIFEST_KEY="$PWD/$key.pub" >/dev/null
cmake --build "$build/windows-i686" --target Launcher driver standin_client
windows="$build/windows-i686"
if ! bash tools/wine.sh --can-run-32; then
    echo "demo: this machine cannot run 32-bit programs; running the 64-bit build of the same sources"
    windows="$build/windows-x86_64"
    cmake --preset windows-x86_64 -B "$windows"  -DLAUNCHER_MANIFEST_KEY="$PWD/$key.pub" >/dev/null
    cmake --build "$windows" --target Launcher driver standin_client
fi

exec python3 tools/demo.py --bin "$windows/bin" --native-bin "$build/native/bin" --work "$build/run" --key "$key.key"
