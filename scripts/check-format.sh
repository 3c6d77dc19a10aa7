#!/bin/sh
# Checks that every C++ source tracked by git is formatted as .clang-format says,
# with clang-format 14 (Debian: clang-format-14); lists each place that is not.
# To format a file: clang-format-14 -i FILE.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
format=$(command -v clang-format-14 || command -v clang-format || true)
if [ -z "$format" ] || ! "$format" --version | grep -q "version 14\."; then
    echo "$0: clang-format 14 is not installed (apt-get install clang-format-14)" >&2
    exit 2
fi
git ls-files -z -- '*.h' '*.cpp' | xargs -0 "$format" --dry-run -Werror
echo "check-format: every source is formatted"
