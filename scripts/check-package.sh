#!/bin/sh
# Builds the Debian package in a build folder (build/ or $1) that scripts/build.sh made,
# and checks it: lintian finds no error, and every warning it keeps is explained in
# docs/packaging.md; desktop-file-validate and appstreamcli pass the menu entry and the
# AppStream data; the changelog's newest entry is the package's version and maintainer;
# and the unpacked package works: its tarvik-export exports its sample database to the same
# files as the build's own tarvik-export does.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-"$top/build"}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check-package: $*" >&2
    exit 1
}

rm -f "$build"/tarvik_*.deb
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log" >&2
    fail "cpack -G DEB failed"
}
set -- "$build"/tarvik_*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "cpack made no single tarvik_*.deb"
deb=$1
echo "Package: $deb"

# The control fields and the changelog agree.
version=$(dpkg-deb -f "$deb" Version)
maintainer=$(dpkg-deb -f "$deb" Maintainer)
[ "$version" = "$(dpkg-parsechangelog -l "$top/packaging/changelog" -S Version)" ] ||
    fail "the package is version $version, packaging/changelog's newest entry is not"
[ "$maintainer" = "$(dpkg-parsechangelog -l "$top/packaging/changelog" -S Maintainer)" ] ||
    fail "the package's maintainer $maintainer did not make packaging/changelog's newest entry"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "no dependencies computed from the libraries"

# lintian: no error; a warning only where docs/packaging.md explains its tag.
lintian --fail-on none --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || {
    cat "$work/lintian.txt" >&2
    fail "lintian could not check the package"
}
cat "$work/lintian.txt"
if grep -q '^E: ' "$work/lintian.txt"; then
    fail "lintian reports errors"
fi
warnings=$(grep -c '^W: ' "$work/lintian.txt" || true)
tags=$(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$work/lintian.txt")
[ "$(printf '%s' "$tags" | grep -c . || true)" -eq "$warnings" ] ||
    fail "cannot read the tag of every lintian warning"
for tag in $(printf '%s\n' "$tags" | sort -u); do
    grep -q "\`$tag\`" "$top/docs/packaging.md" ||
        fail "lintian warns $tag, which docs/packaging.md does not explain"
done

# The unpacked package.
root=$work/root
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml ||
    fail "appstreamcli validate"
for size in 16 22 24 32 48 64 128 256; do
    [ -f "$root/usr/share/icons/hicolor/${size}x$size/apps/com.example.veridane.tarvik.png" ] ||
        fail "no ${size}x$size icon (is rsvg-convert, librsvg2-bin, installed?)"
done
for program in "$root"/usr/bin/*; do
    [ -f "$root/usr/share/man/man1/$(basename "$program").1.gz" ] ||
        fail "no manual page for $(basename "$program")"
done
"$root/usr/bin/tarvik" --help >/dev/null || fail "the unpacked tarvik does not run"

sample=usr/share/tarvik/samples/sample-mail.nsf
"$root/usr/bin/tarvik-export" --log "$work/package.log" "$root/$sample" "$work/from-package" ||
    fail "the unpacked tarvik-export did not export the unpacked sample (status $?)"
"$build/tarvik-export" --log "$work/build.log" "$build/samples/sample-mail.nsf" \
    "$work/from-build" >/dev/null
(cd "$work/from-package" && find . | sort) >"$work/package.files"
(cd "$work/from-build" && find . | sort) >"$work/build.files"
diff "$work/build.files" "$work/package.files" >&2 ||
    fail "the unpacked package exports other files than the build"
mails=$(grep -c '\.eml$' "$work/package.files" || true)
[ "$mails" -gt 0 ] || fail "the unpacked package exported no mail"
echo "check-package: $deb passes ($mails mails exported from the unpacked sample)"
