#!/usr/bin/env bash
# Sets up, builds and runs every test under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
# The route of SDKs without qedit.h (MSVC's): fenwyr and its tests with fenwyr's own
# grabber declarations must keep compiling.
cmake --preset mingw-own-qedit >/dev/null
cmake --build --preset mingw-own-qedit
ctest --preset mingw "$@"
