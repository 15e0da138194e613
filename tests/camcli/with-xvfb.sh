#!/bin/sh
# Runs a command with DISPLAY set to an X server of its own (Xvfb on a free display number),
# started here and ended after it. Without Xvfb the command runs with no DISPLAY at all, and a
# test that needs one skips.
# Usage: with-xvfb.sh COMMAND [ARGUMENT]...
if ! command -v Xvfb >/dev/null 2>&1; then
    unset DISPLAY
    exec "$@"
fi
number=$(mktemp)
# -displayfd: Xvfb takes the first free display itself and writes its number once it listens.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" </dev/null >/dev/null 2>&1 &
server=$!
for _ in $(seq 1 200); do
    [ -s "$number" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
done
display=$(cat "$number")
rm -f "$number"
if [ -z "$display" ]; then
    echo "with-xvfb: Xvfb did not start" >&2
    kill "$server" 2>/dev/null
    exit 1
fi
DISPLAY=":$display" "$@"
status=$?
kill "$server" 2>/dev/null
wait "$server" 2>/dev/null
exit $status
