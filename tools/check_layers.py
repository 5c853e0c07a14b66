#!/usr/bin/env python3
"""Checks that the program's folders depend one way.

Each folder is a library and may include headers only from itself and from the folders
listed before it in LAYERS. Every `#include "..."` of a C++ file in those folders is read;
an include of a later folder, or of a folder that is not a library, is reported with its
file and line, and the exit status is 1.

Usage: check_layers.py [SOURCE_ROOT]
"""
import pathlib
import re
import sys

# Bottom first. A folder may include from the folders above its own line.
LAYERS = [
    "platform",
    "platform/gui",
    "imaging",
    "tiff",
    "png",
    "formats",
    "thumbs",
    "info",
    "settings",
    "thumbview",
    "foldertree",
    "i18n",
    "viewer",
    "app",
    "cli",
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = {".h", ".hpp", ".cpp", ".cc"}


def folder_of(path: str) -> str | None:
    """The library folder a path inside the tree belongs to: the longest listed prefix."""
    best = None
    for layer in LAYERS:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def check(root: pathlib.Path) -> list[str]:
    rank = {layer: i for i, layer in enumerate(LAYERS)}
    faults = []
    for layer in LAYERS:
        folder = root / layer
        if not folder.is_dir():
            continue
        for file in sorted(folder.iterdir()):
            if file.suffix not in SOURCES or not file.is_file():
                continue
            relative = file.relative_to(root).as_posix()
            own = folder_of(relative)
            lines = file.read_text(encoding="utf-8", errors="replace").splitlines()
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1)
                used = folder_of(target)
                if used is None:
                    faults.append(f"{relative}:{number}: includes \"{target}\", "
                                  f"which is in no library folder")
                elif rank[used] > rank[own]:
                    faults.append(f"{relative}:{number}: {own}/ includes \"{target}\", "
                                  f"but {used}/ comes after {own}/ in the layer table")
    return faults


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                        pathlib.Path(__file__).resolve().parent.parent)
    faults = check(root)
    for fault in faults:
        print(fault, file=sys.stderr)
    if faults:
        print(f"{len(faults)} include(s) against the layering", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
