#!/bin/sh
# Configures and builds Tarvik into build/ (or the folder given as $1); further
# arguments go to CMake. TARVIK_WERROR=ON in the environment makes warnings errors.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$top/build"}
if [ $# -gt 0 ]; then shift; fi
cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIK_WERROR="${TARVIK_WERROR:-OFF}" "$@" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
