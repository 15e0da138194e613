#!/usr/bin/env bash
# Downloads Debian's source packages of libjpeg-turbo and libyuv (the versions in
# third_party/packages.txt, with apt-get source from a deb-src entry this adds when the machine
# has none) and builds them once, as static libraries for the mingw toolchain, into
# build/third-party/install. third_party/CMakeLists.txt checks every file's SHA-256.
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

if ! (cd "$out/sources" && apt-get source --download-only -q "${wanted[@]}" >/dev/null 2>&1); then
    # No deb-src entry yet: the release's main sources, as its binary entries name them.
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    echo "Adding Debian's source packages of $codename to apt"
    $sudo tee /etc/apt/sources.list.d/cameralibs-debian-sources.sources >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    $sudo apt-get update -q
    (cd "$out/sources" && apt-get source --download-only -q "${wanted[@]}")
fi

cmake -S third_party -B "$out/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DDEBIAN_SOURCES="$out/sources" -DCMAKE_INSTALL_PREFIX="$out/install" >/dev/null
cmake --build "$out/build"
touch "$stamp"
