#!/usr/bin/env python3
"""check_layers.py [root]: fails when a source includes from a layer above its own.

The layers are the rows of the README's Layout table, from the bottom up; a file may include from
its own row and the rows before it. A file belongs to the row of the longest folder that holds it.
An include is looked up beside the including file, then from the root (the include folder of every
target), then in tests/common for the tests; one found nowhere in the tree is a system header.
"""
import os
import re
import subprocess
import sys

SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def readme_layers(root):
    """The folders of the README's Layout table, row by row."""
    rows, in_layout = [], False
    with open(os.path.join(root, "README.md"), encoding="utf-8") as readme:
        for line in readme:
            if line.startswith("## "):
                in_layout = line.strip() == "## Layout"
            elif in_layout and line.startswith("| `"):
                rows.append(re.findall(r"`([^`]+/)`", line.split("|")[1]))
    return rows


def sources(root):
    """Every C and C++ source of the tree: what git tracks and what it would (a new file counts)."""
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "--cached", "--others", "--exclude-standard"],
                                check=True, capture_output=True, text=True).stdout.splitlines()
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if not d.startswith(".") and not d.startswith("build")]
            listed += [os.path.relpath(os.path.join(folder, f), root) for f in files]
    return sorted(f for f in listed if f.endswith(SOURCE_SUFFIXES) and os.path.isfile(os.path.join(root, f)))


def layer_of(layers, path):
    """(row, folder) of the longest folder of the table that holds path; (None, None) outside it."""
    best = (None, None)
    for row, folders in enumerate(layers):
        for folder in folders:
            if path.startswith(folder) and (best[1] is None or len(folder) > len(best[1])):
                best = (row, folder)
    return best


def resolve(root, source, bracket, name):
    """The tree path an include names, or None for a header from outside the tree."""
    candidates = [] if bracket == "<" else [os.path.join(os.path.dirname(source), name)]
    candidates.append(name)
    if source.startswith("tests/"):
        candidates.append(os.path.join("tests/common", name))
    for candidate in candidates:
        path = os.path.normpath(candidate)
        if not path.startswith("..") and os.path.isfile(os.path.join(root, path)):
            return path
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    failures = []
    layers = readme_layers(root)
    if not layers:
        failures.append("README.md: no Layout table with the layers' folders")
    files = sources(root)
    includes = 0
    for source in files:
        row, folder = layer_of(layers, source)
        if row is None:
            failures.append(f"{source}: in no folder of the README's Layout table")
            continue
        with open(os.path.join(root, source), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(root, source, match.group(1), match.group(2))
                if target is None:
                    continue
                includes += 1
                target_row, target_folder = layer_of(layers, target)
                if target_row is None or target_row > row:
                    failures.append(f"{source}:{number}: includes {target} ({target_folder or 'no layer'}) "
                                    f"from {folder}, a layer below it")
    for failure in failures:
        print(failure)
    if failures:
        print(f"check_layers: {len(failures)} upward include(s) or misplaced file(s)")
        return 1
    print(f"check_layers: {includes} includes in {len(files)} files, none upward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
