#!/usr/bin/env bash
# Sets up what is missing, then configures and builds the mingw preset. Used by every entry point
# but the release command, which runs the same set-up (scripts/setup.sh) for its own preset.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
scripts/node-host.sh build/mingw
