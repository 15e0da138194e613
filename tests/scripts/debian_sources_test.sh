#!/usr/bin/env bash
# scripts/debian-sources.sh against a sample apt tree (APT_CONFIG, nothing of the machine's apt):
# both source formats, a mirror and a proxy, other releases, another origin, a disabled entry.
# Usage: debian_sources_test.sh <source tree>
set -u
script=$1/scripts/debian-sources.sh
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
failures=0

apt_tree() {  # apt_tree DIR: an empty apt configuration rooted at DIR
    mkdir -p "$1/etc/apt/sources.list.d" "$1/etc/apt/apt.conf.d" "$1/var/lib/apt/lists" "$1/var/cache/apt"
    printf 'Dir "%s/";\nDir::State::status "/dev/null";\nAPT::Architecture "amd64";\nAPT::Architectures { "amd64"; };\n' \
        "$1" >"$1/apt.conf"
}
fetched() {  # fetched DIR URI SUITE ORIGIN CODENAME: what apt-get update leaves of that entry
    local base
    base=$(printf '%s' "${2#*://}/dists/$3" | tr / _)
    printf 'Origin: %s\nLabel: %s\nSuite: %s\nCodename: %s\nComponents: main contrib\nArchitectures: amd64\n' \
        "$4" "$4" "$3" "$5" >"$1/var/lib/apt/lists/${base}_InRelease"
    : >"$1/var/lib/apt/lists/${base}_main_binary-amd64_Packages"
}
check() {  # check NAME DIR EXPECTED
    local actual
    actual=$(APT_CONFIG=$2/apt.conf "$script" bookworm 2>&1)
    if [ "$actual" != "$3" ]; then
        echo "FAILED: $1"; echo "expected:"; echo "$3"; echo "actual:"; echo "$actual"
        failures=$((failures + 1))
    fi
}

tree=$work/machine
apt_tree "$tree"
mirror=http://192.0.2.10/debian proxy=http://192.0.2.20:3142/debian other=http://192.0.2.30/extra
cat >"$tree/etc/apt/sources.list" <<LIST
# a mirror, by suite name
deb [arch=amd64 signed-by=/srv/keys/mirror.gpg] $mirror stable main contrib
deb $mirror bookworm-updates main
LIST
cat >"$tree/etc/apt/sources.list.d/machine.sources" <<SOURCES
# comments only

Types: deb
URIs: $other
Suites: bookworm
Components: main

Types: deb
URIs: http://192.0.2.40/debian
Suites: bookworm
Components: main
Enabled: no

Types: deb
# a proxy, with its key inline
URIs: $proxy
Suites: bookworm
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 bWFkZS11cA==
 -----END PGP PUBLIC KEY BLOCK-----
Architectures: amd64

Types: deb
URIs: $proxy
Suites: trixie
Components: main
SOURCES
fetched "$tree" $mirror stable Debian bookworm
fetched "$tree" $mirror bookworm-updates Debian bookworm-updates
fetched "$tree" $other bookworm Other bookworm
fetched "$tree" http://192.0.2.40/debian bookworm Debian bookworm
fetched "$tree" $proxy bookworm Debian bookworm
fetched "$tree" $proxy trixie Debian trixie
check "a mirror and a proxy of the release, with their keys" "$tree" "Types: deb-src
URIs: $mirror/
Suites: stable
Components: main
Signed-By: /srv/keys/mirror.gpg

Types: deb-src
URIs: $proxy/
Suites: bookworm
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 bWFkZS11cA==
 -----END PGP PUBLIC KEY BLOCK-----"

# What it prints is an entry apt reads as written.
APT_CONFIG=$tree/apt.conf "$script" bookworm >"$tree/etc/apt/sources.list.d/added.sources"
read_back=$(APT_CONFIG=$tree/apt.conf apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' \
                'Target-Of: deb-src' 2>&1 | awk '!seen[$0]++')
[ "$read_back" = "$mirror/ stable
$proxy/ bookworm" ] || { echo "FAILED: apt reads the entries as: $read_back"; failures=$((failures + 1)); }

# Before any apt-get update apt knows no entry's release: nothing, so the caller updates first.
rm -f "$tree"/var/lib/apt/lists/*
check "nothing fetched yet" "$tree" ""

[ $failures -eq 0 ] && echo "debian-sources test: all checks passed"
exit $failures
