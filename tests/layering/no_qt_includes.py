#!/usr/bin/env python3
"""Fails when code outside the Qt layer sees Qt.

  no_qt_includes.py SOURCE_DIR COMPILE_COMMANDS QT_TARGET...

Two ways to break the layering: a source compiled with a Qt include folder by a
target that is not one of QT_TARGET (the Qt backend and the programs and tests
that use Qt themselves), and a file of the toolkit model or the framework that
includes a Qt header, whatever its compile line says.
"""
import json
import re
import shlex
import sys
from pathlib import Path

QT_FOLDER = re.compile(r"(?i)/qt[56]?(/|$)|/Qt\w+/?$")
QT_INCLUDE = re.compile(r"^\s*#\s*include\s*<Q", re.M)
TARGET = re.compile(r"CMakeFiles/([^/]+)\.dir/")


def include_folders(args):
    for i, arg in enumerate(args):
        for flag in ("-isystem", "-I", "-iquote", "-idirafter"):
            if arg == flag and i + 1 < len(args):
                yield args[i + 1]
            elif arg.startswith(flag) and len(arg) > len(flag):
                yield arg[len(flag):]


def main():
    source, commands, allowed = Path(sys.argv[1]), sys.argv[2], set(sys.argv[3:])
    faults = []
    for entry in json.load(open(commands)):
        args = shlex.split(entry["command"])
        output = args[args.index("-o") + 1] if "-o" in args else ""
        target = TARGET.search(output)
        if target and target.group(1) in allowed:
            continue
        qt = [f for f in include_folders(args) if QT_FOLDER.search(f)]
        if qt:
            faults.append(f"{entry['file']}: compiled with the Qt include folder {qt[0]}")
    model = [source / "toolkit/include", source / "toolkit/src", source / "framework"]
    for folder in model:
        for path in sorted(folder.rglob("*")):
            if path.suffix not in (".h", ".cpp") or "qt" in path.relative_to(source).parts:
                continue
            if QT_INCLUDE.search(path.read_text(errors="replace")):
                faults.append(f"{path.relative_to(source)}: includes a Qt header")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
