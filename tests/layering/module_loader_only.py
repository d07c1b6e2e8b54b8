#!/usr/bin/env python3
"""Fails when the system loader is called anywhere but the module loader.

  module_loader_only.py SOURCE_DIR

Modules are opened, looked into and closed by framework/src/modules/ModuleLoader.{h,cpp}
alone: the checks before a module is mapped, its crash record and its one
owner live there. The tests and benchmarks call the loader to watch it, and the
toolkit sits below the framework: neither is looked at.
"""
import re
import sys
from pathlib import Path

CALL = re.compile(r"\bdl(open|mopen|sym|vsym|close|error|info|addr1?)\s*\(")
FOLDERS = ("framework", "tools", "host", "plugins", "qthost", "examples")
ALLOWED = {"framework/src/modules/ModuleLoader.h", "framework/src/modules/ModuleLoader.cpp"}


def main():
    source = Path(sys.argv[1])
    faults = []
    for folder in FOLDERS:
        for path in sorted((source / folder).rglob("*")):
            name = path.relative_to(source).as_posix()
            if path.suffix not in (".h", ".cpp") or name in ALLOWED:
                continue
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                if CALL.search(line.split("//")[0]):
                    faults.append(f"{name}:{number}: calls the system loader: {line.strip()}")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
