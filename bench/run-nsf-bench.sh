#!/bin/sh
# Measures tarvik-nsfdump and the Notes database file reader behind it, each figure as the median
# and range of RUNS runs (wall time and peak resident memory from /usr/bin/time):
#
# 1. a full dump of every sample database: --json with every attachment extracted, one process
#    per file; the time of the whole set and the largest peak memory of any one file;
# 2. one sample read 1,000 times in one process (bench_nsf read: every note, value, rich-text
#    field, MIME part and attachment);
# 3. peak memory against the file's size: copies of MIMEMsg.nsf whose Sample.jpg is made 16, 64
#    and 256 MiB, stored and Huffman coded (bench_nsf grow), dumped with extraction.
#
# Usage: bench/run-nsf-bench.sh [BUILD_DIR] [RUNS] [SAMPLES_DIR]
# Defaults: build/ of this tree, 5 runs, ../shared/nsf-samples beside the tree.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
runs=${2:-5}
samples=${3:-"$top/../shared/nsf-samples"}
dump="$build/tarvik-nsfdump"
bench="$build/bench/bench_nsf"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-nsf-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export TZ=Europe/Berlin LC_ALL=C.UTF-8

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "-" hi }'; }
# "median (range)" of the numbers in a file.
summary() { echo "$(median < "$1") ($(range < "$1"))"; }

# Runs a command under /usr/bin/time; appends "seconds kib" to $work/time.
timed() {
    /usr/bin/time -q -f '%e %M' -o "$work/one" "$@" > /dev/null 2>> "$work/stderr" || true
    cat "$work/one" >> "$work/time"
}

# 1. Every sample dumped in full: the set timed as it runs, then each file's peak memory in a
# pass of its own (a timer process per file would cost more than most dumps).
count=$(ls "$samples"/*.nsf | wc -l)
bytes=$(cat "$samples"/*.nsf | wc -c)
: > "$work/set-seconds"
: > "$work/set-peak"
i=0
while [ "$i" -lt "$runs" ]; do
    rm -rf "$work/out" "$work/time"
    start=$(date +%s.%N)
    for f in "$samples"/*.nsf; do
        "$dump" --json --extract "$work/out/${f##*/}" "$f" > /dev/null 2>&1 || true
    done
    end=$(date +%s.%N)
    echo "$end $start" | awk '{ printf "%.3f\n", $1 - $2 }' >> "$work/set-seconds"
    rm -rf "$work/out"
    for f in "$samples"/*.nsf; do
        timed "$dump" --json --extract "$work/out/${f##*/}" "$f"
    done
    awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { printf "%.1f\n", m / 1024 }' "$work/time" \
        >> "$work/set-peak"
    i=$((i + 1))
done
# What starting the program costs: as many runs of --help.
start=$(date +%s.%N)
for f in "$samples"/*.nsf; do
    "$dump" --help > /dev/null
done
end=$(date +%s.%N)
started=$(echo "$end $start" | awk '{ printf "%.3f", $1 - $2 }')
extracted=$(find "$work/out" -type f | wc -l)
echo "full dump of $count samples ($((bytes / 1048576)) MiB, $extracted attachments extracted):" \
    "$(summary "$work/set-seconds") s ($started s of it starting $count processes)," \
    "peak memory of one file's dump $(summary "$work/set-peak") MiB"

# 2. One sample read 1,000 times in one process.
for name in MIMEMsg.nsf na_test.nsf; do
    : > "$work/read-seconds"
    : > "$work/read-peak"
    i=0
    while [ "$i" -lt "$runs" ]; do
        : > "$work/time"
        timed "$bench" read "$samples/$name" 1000
        awk '{ print $1 }' "$work/time" >> "$work/read-seconds"
        awk '{ printf "%.1f\n", $2 / 1024 }' "$work/time" >> "$work/read-peak"
        i=$((i + 1))
    done
    echo "$name read 1,000 times in one process: $(summary "$work/read-seconds") s," \
        "peak memory $(summary "$work/read-peak") MiB"
done

# 3. Peak memory against the attachment's size.
for mode in stored huffman; do
    for mib in 16 64 256; do
        "$bench" grow "$samples/MIMEMsg.nsf" "$work/grown.nsf" "$mib" \
            "$([ $mode = huffman ] && echo huffman || echo stored)" > /dev/null
        size=$(($(stat -c %s "$work/grown.nsf") / 1048576))
        : > "$work/grow-seconds"
        : > "$work/grow-peak"
        i=0
        while [ "$i" -lt "$runs" ]; do
            rm -rf "$work/out" "$work/time"
            timed "$dump" --json --extract "$work/out" "$work/grown.nsf"
            awk '{ print $1 }' "$work/time" >> "$work/grow-seconds"
            awk '{ printf "%.1f\n", $2 / 1024 }' "$work/time" >> "$work/grow-peak"
            i=$((i + 1))
        done
        echo "MIMEMsg.nsf with a $mib MiB attachment ($mode, file $size MiB), dumped and" \
            "extracted: $(summary "$work/grow-seconds") s, peak memory $(summary "$work/grow-peak") MiB"
        rm -f "$work/grown.nsf"
    done
done
