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

# Camera A gets camera controls and camera B ranges of frame rates (the same sizes and default
# rates as registered), as real drivers offer them.
instance='HKCR\CLSID\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\Instance'
echo "== Camera controls for Virtual Camera A, frame-rate ranges for Virtual Camera B"
wine reg add "$instance\VirtualCameraA" /v Controls /t REG_SZ /f \
    /d 'brightness=-64..64/1:0:manual,auto;contrast=0..100/1:50:manual;exposure=-13..-1/1:-6:auto,manual;focus=0..250/10:0:auto,manual' >/dev/null
wine reg add "$instance\VirtualCameraB" /v Formats /t REG_SZ /f \
    /d '1280x720@5-30 YUY2;640x480@5-60 MJPG;800x600@15 RGB24;320x240@7.5-30 NV12' >/dev/null

# A capture card: its capabilities are described only with VIDEOINFOHEADER2 (interlaced, 16:9).
card="$instance\VirtualCaptureCard"
echo "== A capture card whose formats are all VIDEOINFOHEADER2"
wine reg add "$card" /v FriendlyName /t REG_SZ /d 'Virtual Capture Card' /f >/dev/null
wine reg add "$card" /v CLSID /t REG_SZ /d '{EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}' /f >/dev/null
wine reg add "$card" /v Formats /t REG_SZ /f \
    /d '1280x720@30 YUY2 VIH2 16:9;720x480@29.97 YUY2 VIH2 INTERLACED 16:9' >/dev/null

camcli devices
camcli formats 0
camcli formats 1
camcli formats 'Virtual Capture Card'
camcli grab 'Virtual Capture Card' --format 0 --frames 1 --out "$winout"
camcli grab 0 --format 0 --frames 5 --out "$winout"
camcli grab 0 --format 1 --frames 5 --out "$winout"
camcli grab 1 --format 0 --frames 5 --out "$winout"
camcli grab 1 --format 1 --frames 5 --out "$winout"
camcli grab 1 --format 1 --fps 12.5 --frames 5 --out "$winout"
camcli grab 1 --format 1 --fps 100 --frames 5 --out "$winout" || echo "(exit code $?: a rate outside the capability's)"

# One picture per source format, each converted by fenwyr (the default output, BGR24).
formats_camera="$instance\VirtualFormats"
source_formats=(YUY2 NV12 MJPG UYVY I420 YV12 Y800 RGB565 RGB24)
list=""
for f in "${source_formats[@]}"; do list="$list${list:+;}320x240@30 $f"; done
wine reg add "$formats_camera" /v FriendlyName /t REG_SZ /d 'Virtual Formats Camera' /f >/dev/null
wine reg add "$formats_camera" /v CLSID /t REG_SZ /d '{EAA15466-3846-4E8B-A86D-3C5DB1FAFD23}' /f >/dev/null
wine reg add "$formats_camera" /v Formats /t REG_SZ /d "$list" /f >/dev/null
echo
echo "== One picture per source format: fenwyr's conversion (left) beside the tests' reference decoding of the same frame's own bytes (right)"
wine "$bin/side_by_side.exe" 'Virtual Formats Camera' "$winout"

camcli controls 0
camcli controls 0 --set brightness=20 --set focus=auto --set focus=15 ||
    echo "(exit code $?: a setting the device refused)"

# One picture at the default brightness and one brighter: camcli has the device open from the
# setting to the frame, since each run binds the device afresh, at its defaults.
shot() {  # shot NAME [grab options]: one frame of camera A to $out/NAME.png
    local name=$1 tmp="$out/.shot"
    shift
    rm -rf "$tmp" && mkdir -p "$tmp"
    camcli grab 0 --format 0 --frames 1 "$@" --out "$(winepath -w "$tmp")"
    mv "$tmp"/*.png "$out/$name.png" && rm -rf "$tmp"
}
shot brightness-default
shot brightness-plus-60 --set brightness=60
echo "Brightness before and after: $out/brightness-default.png, $out/brightness-plus-60.png"

camcli industrial --aoi 0,0,1280,1024 --fps 20 --frames 3 --out "$winout"
camcli industrial --aoi 320,256,640,480 --fps 40 --exposure 5 --gain 20 --frames 3 --out "$winout"

echo
echo "Pictures: $out"
ls "$out"

# Camera A live for five seconds. The prefix's own desktop has no display driver (dialogs stay
# invisible there), so the preview gets a Wine desktop of its own, drawn on this display.
preview_desktop="/desktop=camcli-preview,1024x768,x11"
if [ -n "${DISPLAY:-}" ]; then
    echo
    echo "\$ camcli preview 0 --seconds 5   (in a window on display $DISPLAY)"
    wine explorer "$preview_desktop" "$(winepath -w "$bin/camcli.exe")" preview 0 --seconds 5 ||
        echo "(the preview could not be shown: exit code $?)"
else
    echo "No display: to watch camera A live, run on one: WINEPREFIX=$WINEPREFIX wine explorer $preview_desktop $bin/camcli.exe preview 0"
fi
