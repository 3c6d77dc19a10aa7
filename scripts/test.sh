#!/bin/sh
# Installs what is missing, builds Tarvik and runs every test.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup-debian.sh"
"$top/scripts/build.sh"
ctest --test-dir "$top/build" --output-on-failure --parallel "$(nproc)"
