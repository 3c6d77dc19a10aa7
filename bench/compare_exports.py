#!/usr/bin/env python3
"""Compares two export trees and their logs, byte for byte, apart from what
differs between any two runs: each message's Message-ID (time, process and a
random part), the multipart boundary derived from it, and the private temporary
folder's name in the log. Exits 1 and names the first differences otherwise.

Usage: compare_exports.py TREE_A LOG_A TREE_B LOG_B
"""
import os
import re
import sys

MESSAGE_ID = re.compile(rb"^Message-ID: <[^>\r\n]*>\r$", re.M)
BOUNDARY = re.compile(rb"=_tarvik_[0-9a-f]{24}")
TEMP = re.compile(rb"/tarvik-[A-Za-z0-9]{6}/")


def files(root):
    out = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                data = f.read()
            data = MESSAGE_ID.sub(b"Message-ID: <id>\r", data)
            out[os.path.relpath(path, root)] = BOUNDARY.sub(b"=_tarvik_boundary", data)
    return out


def log(path):
    with open(path, "rb") as f:
        return TEMP.sub(b"/tarvik-TEMP/", f.read()).split(b"\r\n")


def main():
    tree_a, log_a, tree_b, log_b = sys.argv[1:5]
    a, b = files(tree_a), files(tree_b)
    problems = []
    for name in sorted(set(a) | set(b)):
        if name not in a or name not in b:
            problems.append("only in %s: %s" % (tree_a if name in a else tree_b, name))
        elif a[name] != b[name]:
            problems.append("differs: %s" % name)
    la, lb = log(log_a), log(log_b)
    if la != lb:
        for i, (x, y) in enumerate(zip(la, lb)):
            if x != y:
                problems.append("log line %d: %r / %r" % (i + 1, x, y))
                break
        if len(la) != len(lb):
            problems.append("log lines: %d / %d" % (len(la), len(lb)))
    for p in problems[:20]:
        print(p)
    print("%d files compared, %d log lines, %d differences" % (len(a), len(la), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
