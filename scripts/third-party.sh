#!/usr/bin/env bash
# Downloads Debian's source packages of libjpeg-turbo and libyuv (the versions in
# third_party/packages.txt, with apt-get source from a deb-src entry this adds when the machine
# has none, made by scripts/debian-sources.sh from its binary entries) and builds them once, as
# static libraries for the mingw toolchain, into build/third-party/install.
# third_party/CMakeLists.txt checks every file's SHA-256.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$root/build/third-party
stamp=$out/install/.built
if [ -f "$stamp" ] && [ -z "$(find third_party -newer "$stamp")" ]; then
    exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
mkdir -p "$out/sources"
wanted=()
while read -r package version; do
    wanted+=("$package=$version")
done < third_party/packages.txt

fetch() { (cd "$out/sources" && apt-get source --download-only -q "${wanted[@]}"); }
if ! fetch >/dev/null 2>&1; then
    # No deb-src entry yet: the release's main sources, from where its binary entries get Debian.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    entries=$(scripts/debian-sources.sh "$codename")
    if [ -z "$entries" ]; then
        $sudo apt-get update -q
        entries=$(scripts/debian-sources.sh "$codename")
    fi
    if [ -z "$entries" ]; then
        echo "apt has no entry of Debian's $codename (main) to take the source packages from:" \
             "add a deb-src entry for it and run again" >&2
        exit 1
    fi
    eval "$(apt-config shell parts Dir::Etc::sourceparts/d)"
    echo "Adding Debian's source packages of $codename to apt, from the machine's own entries"
    printf '%s\n' "$entries" | $sudo tee "${parts}cameralibs-debian-sources.sources" >/dev/null
    $sudo apt-get update -q
    fetch
fi

cmake -S third_party -B "$out/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DDEBIAN_SOURCES="$out/sources" -DCMAKE_INSTALL_PREFIX="$out/install" >/dev/null
cmake --build "$out/build"
touch "$stamp"
