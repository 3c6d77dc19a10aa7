#!/bin/sh
# Installs whatever Tarvik needs to build, run and test on Debian 12 that is not
# installed yet. Runs as root (as CI does) or through sudo.
set -eu

PACKAGES="g++ cmake make pkg-config qt6-base-dev libgmime-3.0-dev libsqlite3-dev libicu-dev
python3 xvfb xauth x11-apps x11-utils imagemagick fonts-dejavu-core fonts-liberation2
fonts-wqy-microhei fonts-noto-color-emoji fonts-wine fp-utils libchm-bin
clang libclang-rt-14-dev clang-format-14 valgrind time
dpkg-dev file librsvg2-bin lintian desktop-file-utils appstream"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
else
    echo "Tarvik needs these Debian packages:$missing" >&2
    echo "Run this script as root, or install them with apt-get." >&2
    exit 1
fi

echo "Installing:$missing"
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
