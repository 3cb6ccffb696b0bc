#!/bin/bash
# Digest throughput: the launcher's SHA-1 file digest beside sha1sum and `openssl dgst -sha1`, on one
# 1 GiB file and on 1000 files totalling 1 GiB, all in this run and from the page cache.
# Usage: tools/bench_digest.sh [work folder, default a new one under /tmp]. Cleans up after itself.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${1:-/tmp}/bench-digest.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "Building the digest benchmark (g++ -O2, no sanitizers)..."
g++ -std=c++17 -O2 -Wall -Wextra -I"$repo" "$repo/tools/bench_digest.cpp" "$repo/updater/digest.cpp" -o "$work/bench_digest"

echo "Making 1 GiB of random data, once as one file and once as 1000 files..."
head -c 1073741824 /dev/urandom > "$work/one.bin"
mkdir "$work/many"
split -n 1000 -a 3 -d "$work/one.bin" "$work/many/f"
cat "$work/one.bin" "$work/many"/* > /dev/null  # into the page cache, so every tool reads from memory

# Runs a command over the files and prints its MB/s.
measure() {
    local label=$1
    shift
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    awk -v l="$label" -v s="$start" -v e="$end" 'BEGIN { printf "%-34s %8.1f MB/s  (1074 MB in %.2f s)\n", l, 1073.741824 / (e - s), e - s }'
}

for set in one many; do
    if [ "$set" = one ]; then files=("$work/one.bin"); title="one 1 GiB file"; else files=("$work/many"/*); title="1000 files, 1 GiB in all"; fi
    echo
    echo "== $title (${#files[@]} file(s))"
    "$work/bench_digest" "launcher digest (ComputeFileDigest)" "${files[@]}"
    measure "sha1sum" sha1sum "${files[@]}"
    measure "openssl dgst -sha1" openssl dgst -sha1 "${files[@]}"
done
echo
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); SHA extensions: $(grep -qw sha_ni /proc/cpuinfo && echo yes || echo no)"
