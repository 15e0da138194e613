#!/usr/bin/env bash
# Installs what is missing, then configures and builds the mingw preset. Used by every entry point.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/third-party.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
scripts/node-host.sh build/mingw
