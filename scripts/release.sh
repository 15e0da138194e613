#!/usr/bin/env bash
# Builds the Release configuration of what ships and writes the archive
# build/release/camera-libraries-<version>-win64.zip with its SHA-256 checksum file beside it.
# Sets up what is missing first, with the same set-up as every other entry point.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw-release >/dev/null
cmake --build --preset mingw-release
cd build/release
rm -f camera-libraries-*-win64.zip camera-libraries-*-win64.zip.sha256
cpack --config CPackConfig.cmake >/dev/null
archive=$(ls camera-libraries-*-win64.zip)
sha256sum "$archive" >"$archive.sha256"
echo "build/release/$archive ($(stat -c %s "$archive") bytes)"
cat "$archive.sha256"
