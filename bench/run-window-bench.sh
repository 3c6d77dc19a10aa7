#!/bin/sh
# Times the scan of a 100,000-document store with 500 user folders and the preview of a
# 50,000-document folder in the real main window, offscreen, each run in a new process.
#
# Usage: bench/run-window-bench.sh [BUILD_DIR] [RUNS]
# Defaults: build/ of this tree, 5 runs of each.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
runs=${2:-5}

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
i=0
while [ "$i" -lt "$runs" ]; do
    "$build/bench/bench_window" scan "$work/scan.nsf" | tee -a "$work/scans"
    i=$((i + 1))
done
echo "scan median: $(sed 's/scan: \([0-9.]*\) s.*/\1/' "$work/scans" | median) s over $runs runs"

: > "$work/previews"
i=0
while [ "$i" -lt "$runs" ]; do
    "$build/bench/bench_window" preview "$work/preview.nsf" "Folder 1" | tee -a "$work/previews"
    i=$((i + 1))
done
echo "preview median: $(sed 's/preview: \([0-9.]*\) s.*/\1/' "$work/previews" | median) s," \
    "VmRSS growth median $(sed 's/.*VmRSS \([-+0-9.]*\) MiB.*/\1/' "$work/previews" | median) MiB," \
    "VmHWM growth median $(sed 's/.*VmHWM \([-+0-9.]*\) MiB.*/\1/' "$work/previews" | median) MiB" \
    "over $runs runs"
