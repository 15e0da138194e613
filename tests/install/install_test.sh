#!/bin/sh
# Installs the build tree component by component into a temporary folder and checks what a host
# author gets: every file and nothing else, stripped DLLs with their debug links, the same imports
# as the built DLLs; then builds a C host against the installed headers and import libraries only
# and runs it under Wine.
# Usage: install_test.sh <build tree> <source tree> <C compiler> <objdump> <version>
set -u
tree=$1 source=$2 cc=$3 objdump=$4 version=$5
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

node_files=$(cd "$source/bindings/node" && ls lib/*.js | sed 's|^|node/camera-libraries/|')
expected_runtime="LICENSE README.md bin/camcli.exe bin/fenwyr.dll bin/tarvik.dll licenses/libjpeg-turbo/LICENSE.md
licenses/libjpeg-turbo/README.ijg licenses/libyuv/LICENSE licenses/libyuv/PATENTS"
expected_development="include/fenwyr.h include/fenwyr_version.h include/tarvik.h include/tarvik_version.h
lib/fenwyr.def lib/libfenwyr.dll.a lib/libtarvik.dll.a lib/tarvik.def node/camera-libraries/README.md
node/camera-libraries/index.d.ts node/camera-libraries/index.js node/camera-libraries/index.mjs
node/camera-libraries/LICENSE node/camera-libraries/package.json node/camera-libraries/bin/fenwyr.dll
node/camera-libraries/bin/tarvik.dll $node_files"
# The .NET package, where the build had the .NET SDK to pack it.
nupkg="dotnet/CameraLibraries.$version.nupkg"
[ -f "$tree/dotnet/package/CameraLibraries.$version.nupkg" ] && expected_development="$expected_development $nupkg"
expected_debug="bin/.debug/camcli.exe.debug bin/.debug/fenwyr.dll.debug bin/.debug/tarvik.dll.debug
simulators/.debug/uEye_api_64.dll.debug simulators/.debug/vcam.dll.debug"
expected_simulators="simulators/uEye_api_64.dll simulators/vcam.dll"

for component in runtime development debug simulators; do
    cmake --install "$tree" --prefix "$work/$component" --component "$component" >/dev/null || fail "install $component"
    actual=$(cd "$work/$component" && find . -type f | sed 's|^\./||' | sort)
    eval "wanted=\$expected_$component"
    wanted=$(printf '%s\n' $wanted | sort)
    if [ "$actual" != "$wanted" ]; then
        fail "component $component holds:"
        printf '%s\n' "$wanted" >"$work/wanted"
        printf '%s\n' "$actual" >"$work/actual"
        diff -u "$work/wanted" "$work/actual"
    fi
done

# The .NET package carries the very DLLs that ship.
if [ -f "$work/development/$nupkg" ]; then
    mkdir "$work/nupkg" && (cd "$work/nupkg" && cmake -E tar xf "$work/development/$nupkg") || fail "unpack $nupkg"
    for dll in fenwyr.dll tarvik.dll; do
        cmp -s "$work/nupkg/runtimes/win-x64/native/$dll" "$work/runtime/bin/$dll" || fail "$nupkg's $dll is not the shipped one"
    done
fi

imports() { "$objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort; }
for file in runtime/bin/tarvik.dll runtime/bin/fenwyr.dll runtime/bin/camcli.exe \
            simulators/simulators/uEye_api_64.dll simulators/simulators/vcam.dll; do
    sections=$("$objdump" -h "$work/$file")
    echo "$sections" | grep -q '\.debug_' && fail "$file keeps debug sections"
    echo "$sections" | grep -q '\.gnu_debuglink' || fail "$file has no debug link"
    built="$tree/bin/$(basename "$file")"
    [ "$(imports "$work/$file")" = "$(imports "$built")" ] || fail "$file imports differ from $built"
done
echo "sizes (built, installed): $(for f in tarvik.dll fenwyr.dll; do
    printf '%s %s %s; ' "$f" "$(stat -c %s "$tree/bin/$f")" "$(stat -c %s "$work/runtime/bin/$f")"; done)"

# The C host, from the installed files alone; the simulated camera stands beside it.
host="$work/runtime/bin"
cp "$work/simulators/simulators/uEye_api_64.dll" "$host/"
"$cc" -std=c11 -Wall -Wextra -Werror -DEXPECTED_VERSION="\"$version\"" -I"$work/development/include" \
    "$source/tests/install/host.c" "$source/tests/install/host_fenwyr.c" -L"$work/development/lib" -ltarvik -lfenwyr -lole32 -o "$host/host.exe" ||
    fail "the C host does not build against the installed files"
output=$("$tree/wine-run" "$host/host.exe" </dev/null 2>&1 >"$work/host.out"; cat "$work/host.out")
printf '%s\n' "$output"
printf '%s\n' "$output" | grep -q "host done: tarvik $version, fenwyr $version" || fail "the C host did not run through"

# The version where people look for it: both READMEs and camcli --version (the stripped camcli).
grep -q "^Version $version " "$source/README.md" || fail "README.md does not say Version $version"
head -1 "$work/runtime/README.md" | grep -q " $version " || fail "the archive's README does not name $version"
grep -q "\"version\": \"$version\"" "$work/development/node/camera-libraries/package.json" ||
    fail "the Node package's version is not $version"
versions=$("$tree/wine-run" "$host/camcli.exe" --version </dev/null 2>&1 >"$work/camcli.out"; cat "$work/camcli.out")
printf '%s\n' "$versions"
for line in "camcli      $version" "tarvik.dll  $version" "fenwyr.dll  $version"; do
    printf '%s\n' "$versions" | grep -q "^$line" || fail "camcli --version lacks \"$line\""
done

[ "$failures" -eq 0 ] && echo "install test: all checks passed"
exit "$failures"
