#!/usr/bin/env bash
# Prints deb-src entries (deb822) for Debian's main component of release CODENAME, one for each of
# the machine's binary entries of that release, with the same URIs and Signed-By: a machine that
# reaches Debian through a mirror or proxy of its own gets its sources the same way. apt itself
# reads the machine's sources (both formats, APT_CONFIG honoured) and knows each entry's release
# from its Release file, so it names only entries it has fetched an index of: nothing is printed
# before the first apt-get update.
# Usage: scripts/debian-sources.sh CODENAME
set -euo pipefail
codename=$1

# The Signed-By of the entry apt calls FILE:N: line N of a one-line file, stanza N of a deb822
# file (apt does not count stanzas of comments only), with its continuation lines (an inline key).
signed_by() {
    local file=$1 n=$2 deb822=0
    case "$file" in *.sources) deb822=1 ;; esac
    awk -v n="$n" -v deb822="$deb822" '
        deb822 == 0 {
            if (NR == n && match($0, /\[[^]]*\]/)) {
                count = split(substr($0, RSTART + 1, RLENGTH - 2), options, /[ \t]+/)
                for (i = 1; i <= count; i++)
                    if (tolower(options[i]) ~ /^signed-by=/)
                        print "Signed-By: " substr(options[i], 11)
            }
            next
        }
        /^[ \t]*$/ { inside = 0; field = 0; next }
        /^#/ { next }
        !inside { inside = 1; stanza++ }
        stanza != n { next }
        tolower($0) ~ /^signed-by:/ { field = 1; print "Signed-By:" substr($0, 11); next }
        field && /^[ \t]/ { print; next }
        { field = 0 }
    ' "$file"
}

declare -A printed=()
while read -r entry suite uri; do
    key=$(signed_by "${entry%:*}" "${entry##*:}")
    stanza="Types: deb-src
URIs: $uri
Suites: $suite
Components: main${key:+
$key}"
    [ -z "${printed[$stanza]:-}" ] || continue
    printed[$stanza]=1
    [ ${#printed[@]} -eq 1 ] || echo
    printf '%s\n' "$stanza"
done < <(apt-get indextargets --format '$(SOURCESENTRY) $(RELEASE) $(REPO_URI)' \
             'Target-Of: deb' 'Created-By: Packages' 'Component: main' 'Origin: Debian' "Codename: $codename" |
         awk '!seen[$0]++')
