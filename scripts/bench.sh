#!/usr/bin/env bash
# Builds and runs every benchmark under Wine; prints one table per benchmark.
# Usage: scripts/bench.sh [repetitions]   (default 7; at least 5)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build/mingw/wine-prefix setup
trap 'build/mingw/wine-prefix cleanup' EXIT
reps="${1:-7}"
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(wine --version)"
for bench in build/mingw/bin/*_bench.exe; do
    build/mingw/wine-run "$bench" "$reps"
done
# Frames to JavaScript through the Node package, against grabFrame from C++ in the same run.
build/mingw/node-run "$PWD/bench/node_delivery.js" "Z:$PWD/build/mingw/bin/fenwyr_delivery_bench.exe" "$reps"
