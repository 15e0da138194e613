#!/usr/bin/env bash
# The long form of the reliability tests: the same tests as in the test command, each soak
# running for minutes, each case in its own process as under CTest. Prints their figures.
# Usage: scripts/soak.sh [seconds per soak]   (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
build/mingw/wine-prefix setup
trap 'build/mingw/wine-prefix cleanup' EXIT
export SOAK_SECONDS="${1:-300}"
failed=0
for program in tarvik_tests fenwyr_reliability_tests; do
    exe="build/mingw/bin/$program.exe"
    for name in $(build/mingw/wine-run "$exe" --gtest_list_tests --gtest_filter='Reliability.*' | tr -d '\r' |
                  awk '/^[^ ]/ {suite=$1} /^  / {print suite $1}'); do
        echo "== $name"
        output=$(build/mingw/wine-run "$exe" --gtest_filter="$name" 2>&1) || failed=1
        printf '%s\n' "$output" | tr -d '\r' |
            grep -E '^[a-z].*: |OK \]|FAILED \]|Failure|Expected|Which|actual' || true
    done
done
exit $failed
