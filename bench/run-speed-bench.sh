#!/bin/sh
# Every speed figure of the export and of reading the store, from one run, as
# medians with their ranges and as ratios measured side by side:
#
#  1. the export of the 20,000-document benchmark store (run-export-bench.sh's
#     store) against a plain write of the same files' bytes (bench_copy), both
#     on a memory file system (/dev/shm) and on the disk (DISK_DIR), ROUNDS
#     rounds, each round one export and one plain write on each; the export's
#     peak memory (ru_maxrss);
#  2. a plain Python exporter on the standard email package (python_export.py,
#     the same mails from the store's description) against Tarvik, on the memory
#     file system, PY_ROUNDS rounds interleaved with the rounds above;
#  3. documents per second read through the Notes interface on a 100,000-document
#     local store (bench_store walk, as run-store-bench.sh);
#  4. the scan of a 100,000-mail store with 500 folders and the preview of a
#     50,000-mail folder in the real window, offscreen (bench_window, as
#     run-window-bench.sh).
#
# The machine is shared: figures from one run of this script belong together;
# compare ratios, not times of different runs. Disk steps start after a sync and
# a pause of 6 seconds (see run-export-bench.sh: ext4 and freed inodes).
#
# Usage: bench/run-speed-bench.sh [BUILD_DIR] [ROUNDS] [DISK_DIR]
#   environment: PY_ROUNDS (default ROUNDS), SKIP_STORES=1 (parts 1 and 2 only),
#   SKIP_DISK=1 (no disk rounds), COMPARE_BUILD=DIR (another build's tarvik-export,
#   an earlier version say, timed on the memory file system in every round too)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
rounds=${2:-5}
disk=${3:-/var/tmp}
pyRounds=${PY_ROUNDS:-$rounds}
[ "$rounds" -ge 1 ] || { echo "ROUNDS must be at least 1" >&2; exit 2; }

shm=$(mktemp -d /dev/shm/tarvik-speed-XXXXXX)
dwork=$(mktemp -d "$disk/tarvik-speed-XXXXXX")
trap 'rm -rf "$shm" "$dwork"' EXIT INT TERM
export TZ=Europe/Berlin LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="$shm/xdg-runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# stats: median, smallest and largest of the numbers on standard input.
stats() {
    sort -g | awk '{ v[NR] = $1 } END {
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.3f (%.3f to %.3f, %d rounds)", m, v[1], v[NR], NR }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# timed FILE COMMAND...: appends "seconds peak-MiB" of the command (wall time, the
# child's ru_maxrss); standard output of the command is dropped.
timed() {
    out=$1
    shift
    python3 - "$@" <<'PY' >> "$out"
import resource, subprocess, sys, time
start = time.monotonic()
r = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
seconds = time.monotonic() - start
if r.returncode != 0:
    sys.exit("%s failed: %s" % (sys.argv[1], r.stderr.decode()[-2000:]))
print("%.3f %.1f" % (seconds, resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))
PY
}

settle() {
    sync
    sleep 6
}

echo "== stores"
"$build/tarvik-gendesc" --documents 20000 --folders 20 --attachments 10 \
    --attachment-size 51200 --body-min 1024 --body-max 20480 --seed 5 "$shm/export.json"
"$build/tarvik-mkstore" "$shm/export.json" "$shm/export.nsf" >/dev/null
echo "export store: 20000 documents, $(($(stat -c %s "$shm/export.nsf") / 1048576)) MiB (on /dev/shm)"

: > "$shm/shm"; : > "$shm/shmcopy"; : > "$shm/disk"; : > "$shm/diskcopy"; : > "$shm/python"
: > "$shm/other"
i=0
while [ "$i" -lt "$rounds" ]; do
    rm -rf "$shm/out" "$shm/copy"
    timed "$shm/shm" "$build/tarvik-export" --log "$shm/Log.txt" "$shm/export.nsf" "$shm/out"
    timed "$shm/shmcopy" "$build/bench/bench_copy" "$shm/out" "$shm/copy"
    if [ "$i" = 0 ]; then
        echo "output: $(find "$shm/out" -name '*.eml' | wc -l) files, $(du -sm "$shm/out" | cut -f1) MiB"
    fi
    rm -rf "$shm/copy"
    if [ -n "${COMPARE_BUILD:-}" ]; then
        rm -rf "$shm/out"
        timed "$shm/other" "$COMPARE_BUILD/tarvik-export" --log "$shm/Log.txt" "$shm/export.nsf" "$shm/out"
    fi
    if [ "$i" -lt "$pyRounds" ]; then
        rm -rf "$shm/py"
        timed "$shm/python" python3 "$top/bench/python_export.py" "$shm/export.json" "$shm/py"
        rm -rf "$shm/py"
    fi
    if [ "${SKIP_DISK:-0}" != 1 ]; then
        rm -rf "$dwork/out" "$dwork/copy"
        settle
        timed "$shm/disk" "$build/tarvik-export" --log "$dwork/Log.txt" "$shm/export.nsf" "$dwork/out"
        settle
        timed "$shm/diskcopy" "$build/bench/bench_copy" "$dwork/out" "$dwork/copy"
    fi
    echo "round $((i + 1)): /dev/shm export $(tail -n 1 "$shm/shm" | cut -d' ' -f1) s," \
        "plain write $(tail -n 1 "$shm/shmcopy" | cut -d' ' -f1) s" \
        "$([ -n "${COMPARE_BUILD:-}" ] && echo ", other build $(tail -n 1 "$shm/other" | cut -d' ' -f1) s")" \
        "$([ "$i" -lt "$pyRounds" ] && echo ", python $(tail -n 1 "$shm/python" | cut -d' ' -f1) s")" \
        "$([ "${SKIP_DISK:-0}" != 1 ] && echo ", disk export $(tail -n 1 "$shm/disk" | cut -d' ' -f1) s, plain write $(tail -n 1 "$shm/diskcopy" | cut -d' ' -f1) s")"
    i=$((i + 1))
done
rm -rf "$shm/out" "$dwork/out" "$dwork/copy"

echo "== export (seconds: median, range)"
echo "memory file system: export $(cut -d' ' -f1 "$shm/shm" | stats), plain write $(cut -d' ' -f1 "$shm/shmcopy" | stats)"
paste -d' ' "$shm/shm" "$shm/shmcopy" | awk '{ print $1 / $3 }' > "$shm/ratio"
echo "  export / plain write, memory file system: $(stats < "$shm/ratio")   goal: at most 4"
if [ "${SKIP_DISK:-0}" != 1 ]; then
    echo "disk ($disk): export $(cut -d' ' -f1 "$shm/disk" | stats), plain write $(cut -d' ' -f1 "$shm/diskcopy" | stats)"
    paste -d' ' "$shm/disk" "$shm/diskcopy" | awk '{ print $1 / $3 }' > "$shm/dratio"
    echo "  export / plain write, disk: $(stats < "$shm/dratio")"
fi
if [ -n "${COMPARE_BUILD:-}" ]; then
    echo "other build ($COMPARE_BUILD), memory file system: export $(cut -d' ' -f1 "$shm/other" | stats)"
    paste -d' ' "$shm/other" "$shm/shmcopy" | awk '{ print $1 / $3 }' > "$shm/oratio"
    echo "  its export / plain write: $(stats < "$shm/oratio")"
    paste -d' ' "$shm/shm" "$shm/other" | awk '{ print $1 / $3 }' > "$shm/oshare"
    echo "  this export / other build's, same rounds: $(stats < "$shm/oshare")"
fi
cat "$shm/shm" "$shm/disk" | cut -d' ' -f2 > "$shm/peak"
echo "  export peak memory (MiB, every export): $(stats < "$shm/peak")   goal: under 50"
echo "python exporter (email package), memory file system: $(cut -d' ' -f1 "$shm/python" | stats) s," \
    "peak $(cut -d' ' -f2 "$shm/python" | median) MiB"
head -n "$pyRounds" "$shm/shm" | paste -d' ' - "$shm/python" | awk '{ print $1 / $3 }' > "$shm/pyratio"
echo "  tarvik / python, same rounds: $(stats < "$shm/pyratio")   goal: at most 0.10"
rm -f "$shm/export.json"

[ "${SKIP_STORES:-0}" = 1 ] && exit 0

# store NAME GENDESC-OPTIONS...: a store of the store and window benchmarks.
store() {
    name=$1
    shift
    "$build/tarvik-gendesc" "$@" --attachments 10 --attachment-size 65536 \
        --body-min 200 --body-max 4000 --seed 7 "$shm/$name.json"
    "$build/tarvik-mkstore" "$shm/$name.json" "$shm/$name.nsf" >/dev/null
    rm -f "$shm/$name.json"
    echo "$name store: $(($(stat -c %s "$shm/$name.nsf") / 1048576)) MiB ($*)"
}
store walk --documents 100000 --folders 20
"$build/bench/bench_store" walk "$shm/walk.nsf" "$rounds" > "$shm/walks"
sed -n 's/^walk [0-9]*: .* = \([0-9.]*\) documents\/s.*/\1/p' "$shm/walks" > "$shm/walkrates"
rm -f "$shm/walk.nsf"
store scan --documents 100000 --folders 500
store preview --documents 60000 --folders 20 --largest-folder 50000
: > "$shm/scans"; : > "$shm/previews"
i=0
while [ "$i" -lt "$rounds" ]; do
    "$build/bench/bench_window" scan "$shm/scan.nsf" >> "$shm/scans"
    "$build/bench/bench_window" preview "$shm/preview.nsf" "Folder 1" >> "$shm/previews"
    i=$((i + 1))
done
echo "== reading the store"
echo "walk through the Notes interface, documents/s: $(stats < "$shm/walkrates")   goal: at least 100000"
echo "scan, 100,000 mails in 500 folders, s: $(sed 's/scan: \([0-9.]*\) s.*/\1/' "$shm/scans" | stats)   goal: under 0.05"
echo "preview of a 50,000-mail folder, s: $(sed 's/preview: \([0-9.]*\) s.*/\1/' "$shm/previews" | stats)   goal: under 0.3"
