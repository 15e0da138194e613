#!/usr/bin/env bash
# The main job: sets up, builds, and runs the demo host program (camcli)
# against the simulated devices, in a Wine prefix of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/build.sh

bin="$root/build/mingw/bin"
out="$root/build/demo-output"
export WINEPREFIX="$root/build/demo-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || echo "== Making the demo's Wine prefix (once)"
build/mingw/wine-prefix setup "$WINEPREFIX"
trap 'build/mingw/wine-prefix cleanup "$WINEPREFIX"' EXIT
rm -rf "$out" && mkdir -p "$out"

camcli() {
    echo
    echo "\$ camcli $*"
    wine "$bin/camcli.exe" "$@"
}

winout="$(winepath -w "$out")"

echo "== Registering the virtual capture devices (regsvr32 vcam.dll)"
wine regsvr32 /s "$bin/vcam.dll"

camcli devices
camcli formats 0
camcli formats 1
camcli grab 0 --format 0 --frames 5 --out "$winout"
camcli grab 0 --format 1 --frames 5 --out "$winout"
camcli grab 1 --format 0 --frames 5 --out "$winout"
camcli grab 1 --format 1 --frames 5 --out "$winout"

camcli industrial --aoi 0,0,1280,1024 --fps 20 --frames 3 --out "$winout"
camcli industrial --aoi 320,256,640,480 --fps 40 --exposure 5 --gain 20 --frames 3 --out "$winout"

echo
echo "Pictures: $out"
ls "$out"
