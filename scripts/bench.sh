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
# A virtual machine's host may take CPU time from it while a benchmark runs ("steal"): figures
# from such a run are not to be judged, so each benchmark says how much was taken.
cpu_ticks() {  # total and stolen, from the first line of /proc/stat
    local name user nice system idle iowait irq softirq steal rest
    read -r name user nice system idle iowait irq softirq steal rest </proc/stat
    echo "$((user + nice + system + idle + iowait + irq + softirq + steal)) $steal"
}
measured() {
    local before after
    before=$(cpu_ticks)
    "$@"
    after=$(cpu_ticks)
    set -- $before $after
    echo "CPU time taken by the virtual machine's host during this benchmark: $(( ($4 - $2) * 100 / ($3 - $1 > 0 ? $3 - $1 : 1) )) %"
}
for bench in build/mingw/bin/*_bench.exe; do
    measured build/mingw/wine-run "$bench" "$reps"
done
# Frames to JavaScript through the Node package, against grabFrame from C++ in the same run.
measured build/mingw/node-run "$PWD/bench/node_delivery.js" "Z:$PWD/build/mingw/bin/fenwyr_delivery_bench.exe" "$reps"
