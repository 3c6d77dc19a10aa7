#!/usr/bin/env python3
"""Checks that the folders of src/ use each other only downwards.

Each folder of src/ is one layer (one library); a file may include headers of
its own layer and of the layers listed for it below, and a layer's library may
link only those. The check fails on:
  - an include from a layer that is not allowed (above, or beside it),
  - an include that climbs out of its folder with "..",
  - a source file in a folder that is no layer,
  - a library of one layer linking a layer it may not use,
  - two layers that depend on each other, by includes or by links.

    scripts/check-layers.py [SRC]      checks SRC (default: src/ of this repository)
    scripts/check-layers.py --self-test

The build enforces the same in part (cmake/TarvikLayers.cmake): a header of a
layer the library does not link is not found. This check also covers what the
compiler finds beside the including file, and the links themselves.
"""
import pathlib
import re
import sys
import tempfile

# Bottom to top; each layer may use the layers listed for it.
ALLOWED = {
    "base/os": set(),
    "base": {"base/os"},
    "nsf": {"base/os"},
    "notes": {"base/os", "base", "nsf"},
    "notes/builder": {"base/os", "base", "notes"},
    "notes/capi": {"base/os", "base", "nsf", "notes"},
    "mail": {"base/os", "base"},
    "app": {"base/os", "base", "notes", "mail"},
    "ui": {"base/os", "base", "notes", "notes/capi", "mail", "app"},
}
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".c")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]', re.M)
CALL = re.compile(r"\b(tarvik_add_layer|target_link_libraries)\s*\(([^)]*)\)", re.S)


def layer_of(rel):
    """The layer of a path relative to src/, or None."""
    parts = rel.split("/")
    if len(parts) >= 3 and "/".join(parts[:2]) in ALLOWED:
        return "/".join(parts[:2])
    return parts[0] if len(parts) >= 2 and parts[0] in ALLOWED else None


def target_layer(name):
    """The layer of a library target named tarvik_<layer>, or None."""
    if not name.startswith("tarvik_"):
        return None
    layer = name[len("tarvik_"):].replace("_", "/")
    return layer if layer in ALLOWED else None


def included_path(src, path, kind, target):
    """The path relative to src/ that an include names, or None for one outside src/."""
    if ".." in pathlib.PurePosixPath(target).parts:
        return "..escape"
    if kind == '"':
        beside = path.parent / target
        if beside.is_file():
            try:
                return beside.resolve().relative_to(src.resolve()).as_posix()
            except ValueError:
                return None
    first = target.split("/")[0]
    if first in ALLOWED or "/".join(target.split("/")[:2]) in ALLOWED:
        return target
    return None


def check(src):
    src = pathlib.Path(src)
    faults = []
    edges = {}  # (user, used) -> first place that makes it

    def use(own, dep, where, how):
        if dep == own:
            return
        edges.setdefault((own, dep), where)
        if dep not in ALLOWED[own]:
            faults.append(f"{where}: {how} {dep}, which {own} may not use")

    for path in sorted(src.rglob("*")):
        if not path.is_file():
            continue
        rel = path.relative_to(src).as_posix()
        own = layer_of(rel)
        if path.suffix in SOURCE_SUFFIXES:
            if own is None:
                faults.append(f"{rel}: in no layer (the layers: {', '.join(ALLOWED)})")
                continue
            text = path.read_text(errors="replace")
            for kind, target in INCLUDE.findall(text):
                included = included_path(src, path, kind, target)
                if included == "..escape":
                    faults.append(f"{rel}: includes {target}, outside its own folder")
                    continue
                dep = layer_of(included) if included else None
                if dep is not None:
                    use(own, dep, rel, f"includes {target} from")
        elif path.name == "CMakeLists.txt" and own is not None:
            text = re.sub(r"#[^\n]*", "", path.read_text(errors="replace"))
            for command, args in CALL.findall(text):
                words = args.split()
                if not words or target_layer(words[0]) is None:
                    continue
                library = target_layer(words[0])
                for word in words[1:]:
                    dep = target_layer(word)
                    if dep is not None:
                        use(library, dep, rel, f"{words[0]} links tarvik_{dep.replace('/', '_')} of")

    # Layers that depend on each other, directly or around a circle: one fault per
    # circle, with the place of each step.
    graph = {}
    for a, b in edges:
        graph.setdefault(a, set()).add(b)
    reported = set()
    for a in sorted(graph):
        if a in reported:
            continue
        circle = path_between(graph, a, a)
        if circle:
            reported.update(circle)
            steps = ", ".join(f"{x} uses {y} ({edges[(x, y)]})" for x, y in zip(circle, circle[1:]))
            members = sorted(set(circle))
            names = ", ".join(members[:-1]) + " and " + members[-1]
            faults.append(f"{names} depend on each other: {steps}")
    return faults


def path_between(graph, start, goal):
    """The layers from start to goal along uses, both ends included; None if there is no way."""
    todo = [(next_layer, [start, next_layer]) for next_layer in sorted(graph.get(start, ()))]
    seen = set()
    while todo:
        node, path = todo.pop(0)
        if node == goal:
            return path
        if node in seen:
            continue
        seen.add(node)
        todo.extend((n, path + [n]) for n in sorted(graph.get(node, ())))
    return None


def self_test():
    """Builds small trees, each with one fault, and checks that each is found."""
    cases = {
        "sound": ({"base/A.h": "", "app/B.cpp": '#include "base/A.h"\n'}, None),
        "from above": ({"base/A.h": '#include "app/B.h"\n', "app/B.h": ""}, "base may not use"),
        "beside": ({"mail/A.cpp": '#include "notes/N.h"\n', "notes/N.h": ""}, "mail may not use"),
        "builder from the program": (
            {"app/A.cpp": '#include "notes/builder/S.h"\n', "notes/builder/S.h": ""},
            "app may not use"),
        "builder found beside": (
            {"notes/A.cpp": '#include "builder/S.h"\n', "notes/builder/S.h": ""},
            "notes may not use"),
        "climbing out": ({"notes/A.cpp": '#include "../app/B.h"\n', "app/B.h": ""},
                         "outside its own folder"),
        "angle brackets": ({"base/A.cpp": "#include <ui/W.h>\n", "ui/W.h": ""},
                           "base may not use"),
        "no layer": ({"misc/A.cpp": ""}, "in no layer"),
        "link upwards": ({"notes/CMakeLists.txt":
                          "tarvik_add_layer(tarvik_notes FOLDER notes USES tarvik_base\n"
                          "    tarvik_app SOURCES N.cpp)\n", "notes/N.cpp": ""},
                         "tarvik_notes links tarvik_app of app"),
        "each other": ({"base/A.h": '#include "nsf/N.h"\n', "nsf/N.h": '#include "base/A.h"\n'},
                       "depend on each other"),
    }
    failed = []
    for name, (files, expected) in cases.items():
        with tempfile.TemporaryDirectory() as tmp:
            root = pathlib.Path(tmp)
            for rel, text in files.items():
                (root / rel).parent.mkdir(parents=True, exist_ok=True)
                (root / rel).write_text(text)
            faults = check(root)
            found = any(expected in f for f in faults) if expected else not faults
            if not found:
                failed.append(f"{name}: expected {expected or 'no fault'}, got {faults}")
    for f in failed:
        print("self-test:", f)
    print(f"self-test: {len(cases) - len(failed)} of {len(cases)} cases as expected")
    return 1 if failed else 0


def main():
    if sys.argv[1:] == ["--self-test"]:
        return self_test()
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else \
        pathlib.Path(__file__).resolve().parent.parent / "src"
    faults = check(src)
    for f in faults:
        print(f)
    if faults:
        print(f"check-layers: {len(faults)} faults in {src}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
