#!/usr/bin/env python3
"""Prints the include graph between the source folders and fails on an include that goes up a
layer, or on any include circle between files.

Layers, bottom first; a folder may include its own files and those of lower layers only.
"""
import os
import re
import sys
from collections import defaultdict

LAYERS = [
    ["store"],
    ["platform"],
    ["notify", "downloads", "web"],
    ["bridge", "update", "settings"],
    ["mainwindow"],
    ["app"],
]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root):
    for folder in RANK:
        path = os.path.join(root, folder)
        if not os.path.isdir(path):
            continue
        for name in sorted(os.listdir(path)):
            if name.endswith((".h", ".cpp")):
                yield f"{folder}/{name}"


def includes(root, source):
    with open(os.path.join(root, source), encoding="utf-8") as f:
        text = f.read()
    for target in INCLUDE.findall(text):
        if target.split("/")[0] in RANK:
            yield target


def unit_of(path):
    """The class a file belongs to: its header, its .cpp and its private header (name_p.h)."""
    unit = path.rsplit(".", 1)[0]
    return unit[:-2] if unit.endswith("_p") else unit


def file_cycles(graph):
    """Include circles between files (a header and its own .cpp never form one)."""
    cycles, state, stack = [], {}, []

    def visit(node):
        state[node] = 1
        stack.append(node)
        for nxt in graph.get(node, ()):
            if state.get(nxt) == 1:
                cycles.append(stack[stack.index(nxt):] + [nxt])
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 2

    for node in sorted(graph):
        if node not in state:
            visit(node)
    return cycles


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                           os.path.join(os.path.dirname(__file__), ".."))
    # A .cpp stands for its class: the class depends on what its header and its .cpp include.
    files = defaultdict(set)
    folders = defaultdict(lambda: defaultdict(list))
    errors = []
    for source in sources(root):
        folder = source.split("/")[0]
        unit = unit_of(source)
        for target in includes(root, source):
            target_folder = target.split("/")[0]
            target_unit = unit_of(target)
            if target_unit != unit:
                files[unit].add(target_unit)
            if target_folder == folder:
                continue
            folders[folder][target_folder].append(f"{source} -> {target}")
            if RANK[target_folder] >= RANK[folder]:
                errors.append(f"upward or sideways include: {source} -> {target}")

    print("Layers, bottom first: " + " | ".join(", ".join(l) for l in LAYERS))
    print("Folder include graph:")
    for rank in range(len(LAYERS) - 1, -1, -1):
        for folder in LAYERS[rank]:
            targets = sorted(folders[folder], key=lambda f: (-RANK[f], f))
            print(f"  {folder:11} -> {', '.join(targets) if targets else '(nothing)'}")

    for cycle in file_cycles(files):
        errors.append("include circle: " + " -> ".join(cycle))
    for error in errors:
        print("ERROR " + error)
    print("layers: ok" if not errors else f"layers: {len(errors)} problem(s)")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
