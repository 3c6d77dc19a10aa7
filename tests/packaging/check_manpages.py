#!/usr/bin/env python3
"""Checks the manual pages against the commands they describe.

    check_manpages.py PROGRAM PAGE [PROGRAM PAGE ...]
    check_manpages.py --self-test

For each pair: PROGRAM --help must succeed; every option that its --help text
defines (a line starting with the option) must have an entry in the page's
OPTIONS section, and every entry there must be one of those options (--help may
stand in the page where the help text does not list itself). groff must format
the page without a warning. Exits 1 naming every difference, 0 when none.
"""

import os
import re
import shutil
import subprocess
import sys

OPTION = r"(?:--?[A-Za-z][\w-]*|--(?=\s|$))"
DEFINITION = re.compile(r"^ {1,8}(" + OPTION + r"(?:,\s*" + OPTION + r")*)")


def help_options(text):
    """Options defined by a --help text: those at the start of its indented lines."""
    found = set()
    for line in text.splitlines():
        m = DEFINITION.match(line)
        if m:
            found.update(re.findall(OPTION, m.group(1)))
    return found


def plain(roff):
    """A roff line's text without its requests' names and font escapes."""
    text = re.sub(r"^\.[A-Za-z]+\s*", "", roff)
    text = re.sub(r"\\f[BIRP]|\\f\(..|\\&", "", text)
    return text.replace("\\-", "-").replace('"', " ")


def page_options(page):
    """Options of the OPTIONS section's entries: the tag line after each .TP."""
    found = set()
    in_options = False
    lines = page.splitlines()
    for i, line in enumerate(lines):
        if line.startswith(".SH"):
            in_options = line.split(None, 1)[1:] == ["OPTIONS"]
        elif in_options and line.startswith(".TP") and i + 1 < len(lines):
            tag = plain(lines[i + 1])
            found.update(re.findall(r"(?<![\w-])" + OPTION, tag))
    return found


def differences(name, help_text, page):
    problems = []
    defined = help_options(help_text)
    documented = page_options(page)
    if not defined:
        problems.append(f"{name}: its --help text defines no option")
    for option in sorted(defined - documented):
        problems.append(f"{name}: {option} is in --help but has no entry in the manual page")
    for option in sorted(documented - defined - {"--help"}):
        problems.append(f"{name}: the manual page has {option}, which --help does not define")
    return problems


def groff_warnings(path):
    groff = shutil.which("groff")
    if not groff:
        return []
    run = subprocess.run([groff, "-man", "-ww", "-z", "-Tutf8", path],
                         capture_output=True, text=True)
    return [f"{path}: {line}" for line in run.stderr.splitlines() if line.strip()]


def check(pairs):
    problems = []
    for program, path in pairs:
        name = program.rsplit("/", 1)[-1]
        run = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=60)
        if run.returncode != 0:
            problems.append(f"{name} --help ended with {run.returncode}")
        with open(path, encoding="utf-8") as f:
            page = f.read()
        problems += differences(name, run.stdout, page)
        problems += groff_warnings(path)
    return problems


def self_test():
    help_text = ("Usage: x [options] FILE\n"
                 "  -h, --help     show this\n"
                 "  --size <N>     size; see also --other\n"
                 "                 --continued is not a definition\n"
                 "  --             the end of the options\n")
    good = (".SH OPTIONS\n.TP\n.BR \\-h \", \" \\-\\-help\nText.\n"
            ".TP\n.BR \\-\\-size \" \\fIN\\fR\"\nText.\n.TP\n.B \\-\\-\nEnd.\n"
            ".SH EXIT STATUS\n.TP\n.B \\-\\-unrelated\n")
    assert help_options(help_text) == {"-h", "--help", "--size", "--"}, help_options(help_text)
    assert differences("x", help_text, good) == [], differences("x", help_text, good)
    missing = good.replace(".TP\n.BR \\-\\-size \" \\fIN\\fR\"\nText.\n", "")
    assert differences("x", help_text, missing) == [
        "x: --size is in --help but has no entry in the manual page"]
    extra = good.replace(".SH EXIT STATUS", ".TP\n.B \\-\\-gone\nOld.\n.SH EXIT STATUS")
    assert differences("x", help_text, extra) == [
        "x: the manual page has --gone, which --help does not define"]
    # --help may be documented where the help text does not list itself.
    quiet = "Usage: y [options]\n  --size N   size\n"
    assert differences("y", quiet, good.replace(".TP\n.B \\-\\-\nEnd.\n", "")) == [
        "y: the manual page has -h, which --help does not define"]
    assert differences("z", "Usage: z\n", ".SH OPTIONS\n") == [
        "z: its --help text defines no option"]
    if shutil.which("groff"):
        import tempfile
        with tempfile.NamedTemporaryFile("w", suffix=".1", delete=False) as f:
            f.write(".TH X 1\n.SH NAME\nx \\- y\n.zz\n")
        warnings = groff_warnings(f.name)
        os.unlink(f.name)
        assert len(warnings) == 1 and "zz" in warnings[0], warnings
    print("self-test passed")


def main(argv):
    if argv == ["--self-test"]:
        self_test()
        return 0
    if not argv or len(argv) % 2:
        print(__doc__, file=sys.stderr)
        return 2
    problems = check(list(zip(argv[0::2], argv[1::2])))
    for p in problems:
        print(p)
    print(f"{len(argv) // 2} manual pages checked, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
