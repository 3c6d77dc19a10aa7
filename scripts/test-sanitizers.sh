#!/bin/sh
# Builds Tarvik with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or the folder given as $1) and runs every test under them; the
# first report of either ends the test that made it, and LeakSanitizer checks
# each process for leaks at its end. The build uses clang and also holds the
# libFuzzer targets (TARVIK_FUZZ), so scripts/fuzz.sh runs from the same build.
# TARVIK_WERROR=ON in the environment makes warnings errors.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$top/build-asan"}
CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIK_SANITIZE=address,undefined -DTARVIK_FUZZ=ON -DTARVIK_BUILD_BENCH=OFF \
    -DTARVIK_WERROR="${TARVIK_WERROR:-OFF}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)"
