#!/bin/sh
# Runs a fuzz target (description, store, writer, names, nsf) or all of them, each
# for SECONDS, with libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   scripts/fuzz.sh TARGET|all SECONDS [libFuzzer options...]
#
# The fuzzers come from build-asan/ (clang, TARVIK_FUZZ=ON), which is configured
# and built when needed. Each target starts from fuzz/corpus/TARGET (nsf: also the
# real sample databases, $TARVIK_NSF_SAMPLES or ../shared/nsf-samples beside the
# tree, read only) and keeps what it finds in build-asan/fuzz-work/TARGET/corpus; an input that fails is written to
# build-asan/fuzz-work/TARGET/ as crash-*, leak-*, timeout-* or oom-*: copy it to
# fuzz/regressions/TARGET/ once the fault is fixed, so CTest replays it from then on.
# Every run adds a line to build-asan/fuzz-work/runs.tsv (target, seconds, inputs
# tried, result). Exit status 1 when any target found a failing input.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${TARVIK_FUZZ_BUILD:-"$top/build-asan"}

if [ $# -lt 2 ]; then
    echo "usage: $0 description|store|writer|names|nsf|all SECONDS [libFuzzer options...]" >&2
    exit 2
fi
which=$1
seconds=$2
shift 2
case $which in
all) targets="description store writer names nsf" ;;
description | store | writer | names | nsf) targets=$which ;;
*)
    echo "$0: unknown target $which" >&2
    exit 2
    ;;
esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DTARVIK_SANITIZE=address,undefined -DTARVIK_FUZZ=ON -DTARVIK_BUILD_BENCH=OFF \
        -DTARVIK_WERROR="${TARVIK_WERROR:-OFF}" >/dev/null
fi
for t in $targets; do
    cmake --build "$build" --target "fuzz_$t" --parallel "$(nproc)" >/dev/null
done

export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
export TZ=Europe/Berlin LC_ALL=C.UTF-8
status=0
for t in $targets; do
    work="$build/fuzz-work/$t"
    mkdir -p "$work/corpus"
    case $t in
    description) opts="-dict=$top/fuzz/description.dict -max_len=65536" ;;
    store) opts="-max_len=4096" ;;
    nsf) opts="-max_len=4194304" ;;
    *) opts="-max_len=8192" ;;
    esac
    samples=
    if [ "$t" = nsf ]; then
        samples=${TARVIK_NSF_SAMPLES:-"$top/../shared/nsf-samples"}
        if [ ! -d "$samples" ]; then
            echo "fuzz_$t: no sample folder $samples; starting from fuzz/corpus/$t only" >&2
            samples=
        fi
    fi
    log="$work/last-run.log"
    result=ok
    started=$(date +%s)
    # shellcheck disable=SC2086
    if ! "$build/fuzz/fuzz_$t" $opts -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$@" "$work/corpus" \
        "$top/fuzz/corpus/$t" ${samples:+"$samples"} >"$log" 2>&1; then
        result=failed
        status=1
    fi
    # A failing run ends early and prints no totals: its time is measured
    # here and its inputs are read from the last progress line.
    took=$(($(date +%s) - started))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    [ -n "$runs" ] || runs=$(sed -n 's/^#\([0-9]*\)[[:space:]].*/\1/p' "$log" | tail -n 1)
    printf '%s\t%s\t%s\t%s\n' "$t" "$took" "${runs:-0}" "$result" >>"$build/fuzz-work/runs.tsv"
    echo "fuzz_$t: ${runs:-?} inputs in $took s, $result"
    if [ $result = failed ]; then
        grep -E "ERROR|SUMMARY|check failed|Test unit written" "$log" | head -n 20 >&2 || true
        echo "  (full output: $log)" >&2
    fi
done
exit $status
