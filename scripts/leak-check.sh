#!/bin/sh
# Runs tarvik-export under Valgrind's memcheck on the sample database and on two
# hostile ones (every item unreadable; attachment names that try to leave their
# folders), and fails on any memory error or any block definitely or indirectly
# lost. Uses the normal build in build/ (or the folder given as $1).
#
# No suppressions are needed: Qt, GLib, GMime and SQLite keep what they allocate
# reachable, and "still reachable" blocks are not leaks.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$top/build"}
command -v valgrind >/dev/null 2>&1 || {
    echo "$0: valgrind is not installed (apt-get install valgrind)" >&2
    exit 2
}
for tool in tarvik-export tarvik-mkstore samples/sample-mail.nsf; do
    [ -e "$build/$tool" ] || cmake --build "$build" --target tarvik-export tarvik-mkstore sample_database >/dev/null
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tarvik-mkstore" "$top/tests/hostile/cases/unreadable-everything.json" "$work/unreadable.nsf" >/dev/null
"$build/tarvik-mkstore" "$top/tests/hostile/cases/attachment-names.json" "$work/names.nsf" >/dev/null

status=0
for db in "$build/samples/sample-mail.nsf" "$work/unreadable.nsf" "$work/names.nsf"; do
    name=$(basename "$db" .nsf)
    set +e
    TMPDIR="$work" valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect \
        --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
        --log-file="$work/$name.valgrind" \
        "$build/tarvik-export" --log "$work/$name.log" "$db" "$work/out-$name" 2>"$work/$name.err"
    rc=$?
    set -e
    # The exporter's own statuses are 0 (all written) and 1 (some failed, as the
    # hostile databases are meant to make it); 99 is Valgrind's.
    if [ $rc -ne 0 ] && [ $rc -ne 1 ]; then
        echo "leak check of $name: FAILED (status $rc)" >&2
        cat "$work/$name.valgrind" "$work/$name.err" >&2
        status=1
    else
        echo "leak check of $name: no leak, no memory error"
    fi
done
exit $status
