#!/bin/sh
# Installs what is missing, builds Tarvik and starts it.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
"$top/scripts/build.sh"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Tarvik is built, but there is no display to show its window on." >&2
    echo "Start it from a desktop session, or on a virtual screen with:" >&2
    echo "    xvfb-run -a $top/build/Tarvik" >&2
    exit 1
fi
echo "To try Tarvik, open the sample database: $top/build/samples/sample-mail.nsf"
exec "$top/build/Tarvik" "$@"
