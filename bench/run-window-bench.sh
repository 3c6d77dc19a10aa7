#!/bin/sh
# Times the scan of a 100,000-document store with 500 user folders and the preview of a
# 50,000-document folder in the real main window, offscreen, each run in a new process.
#
# Usage: bench/run-window-bench.sh [BUILD_DIR] [RUNS] [BASE_BUILD_DIR]
# Defaults: build/ of this tree, 5 runs of each. With BASE_BUILD_DIR, each run of
# BUILD_DIR is followed by one of BASE_BUILD_DIR on the same stores, and the medians,
# ranges and the ratio of the medians (BUILD_DIR / BASE_BUILD_DIR) are printed for both.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
runs=${2:-5}
base=${3:-}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-window-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

export QT_QPA_PLATFORM=offscreen TZ=Europe/Berlin LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/xdg-runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# store NAME GENDESC-OPTIONS...: a description and its store, the description removed.
store() {
    name=$1
    shift
    "$build/tarvik-gendesc" "$@" --attachments 10 --attachment-size 65536 \
        --body-min 200 --body-max 4000 --seed 7 "$work/$name.json"
    "$build/tarvik-mkstore" "$work/$name.json" "$work/$name.nsf" >/dev/null
    rm -f "$work/$name.json"
    echo "$name store: $(($(stat -c %s "$work/$name.nsf") / 1048576)) MiB ($*)"
}

store scan --documents 100000 --folders 500
store preview --documents 60000 --folders 20 --largest-folder 50000

: > "$work/scans"
: > "$work/base-scans"
: > "$work/previews"
: > "$work/base-previews"
i=0
while [ "$i" -lt "$runs" ]; do
    "$build/bench/bench_window" scan "$work/scan.nsf" | tee -a "$work/scans"
    if [ -n "$base" ]; then
        "$base/bench/bench_window" scan "$work/scan.nsf" | sed 's/^/base /' |
            tee -a "$work/base-scans"
    fi
    i=$((i + 1))
done
i=0
while [ "$i" -lt "$runs" ]; do
    "$build/bench/bench_window" preview "$work/preview.nsf" "Folder 1" | tee -a "$work/previews"
    if [ -n "$base" ]; then
        "$base/bench/bench_window" preview "$work/preview.nsf" "Folder 1" | sed 's/^/base /' |
            tee -a "$work/base-previews"
    fi
    i=$((i + 1))
done

# seconds FILE: the times of the runs in FILE, one a line.
seconds() { sed 's/^\(base \)\{0,1\}[a-z]*: \([0-9.]*\) s.*/\2/' "$1"; }
range() { seconds "$1" | sort -n | sed -n '1p;$p' | paste -sd' ' | sed 's/ / to /'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

scan=$(seconds "$work/scans" | median)
echo "scan median: $scan s ($(range "$work/scans") s) over $runs runs"
preview=$(seconds "$work/previews" | median)
echo "preview median: $preview s ($(range "$work/previews") s)," \
    "VmRSS growth median $(sed 's/.*VmRSS \([-+0-9.]*\) MiB.*/\1/' "$work/previews" | median) MiB," \
    "VmHWM growth median $(sed 's/.*VmHWM \([-+0-9.]*\) MiB.*/\1/' "$work/previews" | median) MiB" \
    "over $runs runs"
if [ -n "$base" ]; then
    base_scan=$(seconds "$work/base-scans" | median)
    base_preview=$(seconds "$work/base-previews" | median)
    echo "base scan median: $base_scan s ($(range "$work/base-scans") s);" \
        "ratio $(ratio "$scan" "$base_scan")"
    echo "base preview median: $base_preview s ($(range "$work/base-previews") s);" \
        "ratio $(ratio "$preview" "$base_preview")"
fi
