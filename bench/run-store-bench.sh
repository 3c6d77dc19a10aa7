#!/bin/sh
# Measures the store builder and a full walk of a generated store through the Notes
# interface, the way the scan, preview and export read it.
#
# Usage: bench/run-store-bench.sh [BUILD_DIR] [DOCUMENTS] [BUILD_RUNS] [WALK_RUNS]
# Defaults: build/ of this tree, 100000 documents, 3 builds, 5 walks.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
documents=${2:-100000}
buildRuns=${3:-3}
walkRuns=${4:-5}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

"$build/tarvik-gendesc" --documents "$documents" --folders 20 --attachments 10 \
    --attachment-size 65536 --body-min 200 --body-max 4000 --seed 7 "$work/description.json"
echo "description: $documents documents, $(($(stat -c %s "$work/description.json") / 1048576)) MiB"

: > "$work/builds"
i=0
while [ "$i" -lt "$buildRuns" ]; do
    rm -f "$work/store.nsf"
    "$build/bench/bench_store" build "$work/description.json" "$work/store.nsf" | tee -a "$work/builds"
    i=$((i + 1))
done
echo "store: $(($(stat -c %s "$work/store.nsf") / 1048576)) MiB"
echo "build median: $(sed 's/build: \([0-9.]*\) s.*/\1/' "$work/builds" | median) s," \
    "peak memory median $(sed 's/.*peak memory \([0-9.]*\) MiB/\1/' "$work/builds" | median) MiB"

"$build/bench/bench_store" walk "$work/store.nsf" "$walkRuns"
