#!/usr/bin/env bash
# The long form of the reliability tests: the same tests as in the test command, each
# soak running for minutes. Usage: scripts/soak.sh [seconds per soak]   (default 300)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
export SOAK_SECONDS="${1:-300}"
ctest --preset mingw -R 'Reliability' -V --timeout $((SOAK_SECONDS * 3 + 120)) | grep -E '^[0-9]+: [a-z].*:|Passed|Failed|tests passed'
