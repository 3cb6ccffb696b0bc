#!/bin/bash
# Installs what building and testing the launcher needs on Debian 12, as root. Fast when all is there.
set -euo pipefail

packages=(
    build-essential cmake ninja-build googletest libgtest-dev python3 libssl-dev python3-cryptography-vectors
    clang libclang-rt-14-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 wine32:i386
    xvfb xauth nginx-light varnish procps
    openssl curl aria2 zsync tinyproxy
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    missing_arch=1
fi

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ] || [ -n "${missing_arch:-}" ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# nginx is started by the tests and the demo with configs of their own, never as a system service.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet nginx 2>/dev/null; then
    systemctl stop nginx || true
fi
