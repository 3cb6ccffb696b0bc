#!/bin/bash
# Runs a Windows program under Wine, like `wine`. `--server ARGS` runs wineserver instead;
# `--can-run-32` exits 0 when this machine can run 32-bit Windows programs.
# 32-bit Wine needs a kernel that starts 32-bit Linux programs; where the kernel has 32-bit
# emulation disabled only the 64-bit loader works, and a 32-bit program is refused with a clear message.
set -euo pipefail

can_run_32() {
    [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

case "${1:-}" in
--can-run-32)
    can_run_32
    exit
    ;;
--server)
    shift
    if can_run_32; then exec /usr/lib/wine/wineserver "$@"; fi
    exec /usr/lib/wine/wineserver64 "$@"
    ;;
esac

if can_run_32; then
    exec /usr/lib/wine/wine "$@"
fi
if [ ! -x /usr/lib/wine/wine64 ]; then
    echo "wine.sh: Wine is not installed; run tools/setup.sh" >&2
    exit 127
fi
program=${1:-}
if [ -f "$program" ] && [ "$(od -An -tx1 -j "$(( $(od -An -tu4 -j60 -N4 "$program") + 4 ))" -N2 "$program" | tr -d ' ')" = "4c01" ]; then
    echo "wine.sh: $program is a 32-bit program, and this machine cannot run 32-bit programs" \
         "(its kernel has 32-bit emulation disabled); use the 64-bit test build (cmake/toolchain-mingw-x86_64.cmake)" >&2
    exit 126
fi
export WINELOADER=/usr/lib/wine/wine64
exec /usr/lib/wine/wine64 "$@"
