#!/bin/sh
# Measures the program on the real Notes sample databases (.nsf), read through its .nsf
# back-end, each figure as the median and range of RUNS runs (wall time and peak resident
# memory from /usr/bin/time, or as bench_window reports them):
#
# 1. the scan of the largest sample in the real window, offscreen (bench_window scan);
# 2. the list of a view of the largest sample in the window (bench_window view): its largest
#    view whose documents the file keeps, "_Advanced\Certificates" (it has no folder);
# 3. tarvik-export --all-documents of the largest sample;
# 4. tarvik-export --all-documents of every sample, one process per file: the time of the
#    whole set and the largest peak memory of any one file;
# 5. peak memory against the attachment's size: copies of MIMEMsg.nsf whose Sample.jpg is made
#    16 and 256 MiB, stored and Huffman coded (bench_nsf grow), exported with --all-documents.
#
# Usage: bench/run-nsf-export-bench.sh [BUILD_DIR] [RUNS] [SAMPLES_DIR]
# Defaults: build/ of this tree, 5 runs, ../shared/nsf-samples beside the tree.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
runs=${2:-5}
samples=${3:-"$top/../shared/nsf-samples"}
export_tool="$build/tarvik-export"
window="$build/bench/bench_window"
bench_nsf="$build/bench/bench_nsf"

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-nsf-export-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export QT_QPA_PLATFORM=offscreen TZ=Europe/Berlin LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR="$work/xdg-runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
range() { sort -n | awk 'NR == 1 { lo = $1 } { hi = $1 } END { print lo "-" hi }'; }
summary() { echo "$(median < "$1") ($(range < "$1"))"; }

# Runs a command under /usr/bin/time; appends "seconds kib" to $work/time.
timed() {
    /usr/bin/time -q -f '%e %M' -o "$work/one" "$@" > "$work/stdout" 2>> "$work/stderr" || true
    cat "$work/one" >> "$work/time"
}

largest=$(ls -S "$samples"/*.nsf | head -n 1)
echo "largest sample: ${largest##*/}, $(($(stat -c %s "$largest") / 1024)) KiB"

# 1 and 2: the figures bench_window prints, and its peak memory.
window_figure() {
    mode=$1
    shift
    : > "$work/seconds"
    : > "$work/time"
    i=0
    while [ "$i" -lt "$runs" ]; do
        timed "$window" "$mode" "$@"
        sed -n "s/^$mode: \([0-9.]*\) s.*/\1/p" "$work/stdout" >> "$work/seconds"
        last=$(cat "$work/stdout")
        i=$((i + 1))
    done
    awk '{ printf "%.1f\n", $2 / 1024 }' "$work/time" > "$work/peak"
    echo "$mode ${1##*/} ${2:-}: $(summary "$work/seconds") s, process peak $(summary "$work/peak") MiB;" \
        "last run: $last"
}
window_figure scan "$largest"
window_figure view "$largest" '_Advanced\Certificates'

# 3. The largest sample exported with --all-documents.
: > "$work/time"
i=0
while [ "$i" -lt "$runs" ]; do
    rm -rf "$work/out"
    timed "$export_tool" --all-documents --log "$work/log" "$largest" "$work/out"
    i=$((i + 1))
done
awk '{ print $1 }' "$work/time" > "$work/seconds"
awk '{ printf "%.1f\n", $2 / 1024 }' "$work/time" > "$work/peak"
written=$(find "$work/out" -name '*.eml' | wc -l)
echo "export --all-documents ${largest##*/}: $(summary "$work/seconds") s," \
    "peak memory $(summary "$work/peak") MiB, $written mails written"

# 4. Every sample with --all-documents: the set timed as it runs, then each file's peak memory.
count=$(ls "$samples"/*.nsf | wc -l)
: > "$work/set-seconds"
: > "$work/set-peak"
i=0
while [ "$i" -lt "$runs" ]; do
    rm -rf "$work/out"
    start=$(date +%s.%N)
    for f in "$samples"/*.nsf; do
        "$export_tool" --all-documents --log "$work/log" "$f" "$work/out/${f##*/}" \
            > /dev/null 2>&1 || true
    done
    end=$(date +%s.%N)
    echo "$end $start" | awk '{ printf "%.3f\n", $1 - $2 }' >> "$work/set-seconds"
    : > "$work/time"
    for f in "$samples"/*.nsf; do
        rm -rf "$work/one-out"
        timed "$export_tool" --all-documents --log "$work/log" "$f" "$work/one-out"
    done
    awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { printf "%.1f\n", m / 1024 }' "$work/time" \
        >> "$work/set-peak"
    i=$((i + 1))
done
written=$(find "$work/out" -name '*.eml' | wc -l)
echo "export --all-documents of $count samples ($written mails written):" \
    "$(summary "$work/set-seconds") s, peak memory of one file's export $(summary "$work/set-peak") MiB"

# 5. A large attachment: the peak stays that of a small file.
for coding in stored huffman; do
    for mib in 16 256; do
        if [ "$coding" = huffman ]; then
            "$bench_nsf" grow "$samples/MIMEMsg.nsf" "$work/grown.nsf" "$mib" huffman > /dev/null
        else
            "$bench_nsf" grow "$samples/MIMEMsg.nsf" "$work/grown.nsf" "$mib" > /dev/null
        fi
        : > "$work/time"
        i=0
        while [ "$i" -lt "$runs" ]; do
            rm -rf "$work/out"
            timed "$export_tool" --all-documents --log "$work/log" "$work/grown.nsf" "$work/out"
            i=$((i + 1))
        done
        awk '{ print $1 }' "$work/time" > "$work/seconds"
        awk '{ printf "%.1f\n", $2 / 1024 }' "$work/time" > "$work/peak"
        largest_eml=$(find "$work/out" -name '*.eml' -printf '%s\n' | sort -n | tail -n 1)
        echo "export --all-documents of MIMEMsg.nsf with a $mib MiB attachment ($coding," \
            "largest .eml $((largest_eml / 1048576)) MiB): $(summary "$work/seconds") s," \
            "peak memory $(summary "$work/peak") MiB"
        rm -rf "$work/out" "$work/grown.nsf"
    done
done
