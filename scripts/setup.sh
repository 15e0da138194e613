#!/usr/bin/env bash
# Everything an entry point needs before it configures: installs what a fresh Debian 12 machine
# lacks for building and testing, then builds the third-party libraries (scripts/third-party.sh).
# Safe to run again: it installs and builds only what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine wine64 googletest nasm patch xz-utils)
# Only for the camcli preview test: an X server without a screen, so its window can be drawn.
packages+=(xvfb)
# npm fetches the Node package's test host; a machine may already have it with its own Node.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
fi

scripts/third-party.sh

# The .NET package and its test need the .NET SDK, which Debian does not package: without it the
# build leaves them out and the test reports itself skipped.
command -v dotnet >/dev/null 2>&1 || echo "No .NET SDK (dotnet) on PATH: the .NET package and its test are left out"
