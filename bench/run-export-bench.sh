#!/bin/sh
# Exports a generated 20,000-document store with tarvik-export (a tenth of the
# mails with one 50 KB attachment, bodies of 1 to 20 KB) and compares its time
# with a baseline measured in the same run: writing the same output files'
# bytes again as plain files and syncing once, as the export does. Reports
# mails per second, peak memory and the ratio, as medians over RUNS runs.
#
# Each timed step starts on a settled file system: ext4 skips inodes freed in
# the last few seconds when it allocates new ones, and looks at each of them
# again for every new file, so a step that follows the removal of 20,000 files
# would pay for that removal.
#
# Usage: bench/run-export-bench.sh [BUILD_DIR] [RUNS] [DOCUMENTS]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
runs=${2:-5}
documents=${3:-20000}

work=$(mktemp -d "${TMPDIR:-/tmp}/tarvik-export-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
export TZ=Europe/Berlin LC_ALL=C.UTF-8

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

"$build/tarvik-gendesc" --documents "$documents" --folders 20 --attachments 10 \
    --attachment-size 51200 --body-min 1024 --body-max 20480 --seed 5 "$work/bench.json"
"$build/tarvik-mkstore" "$work/bench.json" "$work/bench.nsf" >/dev/null
rm -f "$work/bench.json"
echo "store: $documents documents, $(($(stat -c %s "$work/bench.nsf") / 1048576)) MiB"

: > "$work/results"
i=0
while [ "$i" -lt "$runs" ]; do
    rm -rf "$work/out" "$work/copy"
    sync
    sleep 6
    # Wall time and peak resident memory of the export, from the child's rusage.
    python3 - "$build/tarvik-export" "$work" <<'PY' >> "$work/results"
import resource, subprocess, sys, time
exe, work = sys.argv[1], sys.argv[2]
start = time.monotonic()
r = subprocess.run([exe, "--log", work + "/Log.txt", work + "/bench.nsf", work + "/out"],
                   stderr=subprocess.PIPE)
export = time.monotonic() - start
if r.returncode != 0:
    sys.exit("export failed: " + r.stderr.decode())
peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024
subprocess.run(["sync"], check=True)
time.sleep(6)
start = time.monotonic()
subprocess.run([exe.rsplit("/", 1)[0] + "/bench/bench_copy", work + "/out", work + "/copy"],
               check=True, stdout=subprocess.DEVNULL)
baseline = time.monotonic() - start
print("%.3f %.3f %.1f" % (export, baseline, peak))
PY
    tail -n 1 "$work/results" | awk -v n="$documents" \
        '{ printf "run: export %.2f s (%.0f mails/s), baseline %.2f s, ratio %.2f, peak %.1f MiB\n", $1, n / $1, $2, $1 / $2, $3 }'
    i=$((i + 1))
done
echo "output: $(find "$work/out" -name '*.eml' | wc -l) files, $(du -sm "$work/out" | cut -f1) MiB"
awk '{ print $1 }' "$work/results" | median | awk -v n="$documents" '{ printf "median export: %.2f s, %.0f mails/s\n", $1, n / $1 }'
awk '{ print $2 }' "$work/results" | median | awk '{ printf "median baseline: %.2f s\n", $1 }'
awk '{ print $1 / $2 }' "$work/results" | median | awk '{ printf "median ratio: %.2f\n", $1 }'
awk '{ print $3 }' "$work/results" | median | awk '{ printf "median peak memory: %.1f MiB\n", $1 }'
