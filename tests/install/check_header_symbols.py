#!/usr/bin/env python3
"""Every function that the installed headers declare without a body must be
defined by the libraries: a declaration left without its definition links in
nobody's program until the day someone calls it.

    check_header_symbols.py SOURCE_DIR LIBRARY...

Compiles one translation unit that includes every header of
framework/include/kelvarin and toolkit/include/keltk with clang++, reads the
declarations of namespaces kelvarin and keltk from its AST (JSON), and lists
each mangled name that no LIBRARY defines (nm -D --defined-only). Exits 1 when
there is one, 0 when there is none.
"""
import json
import os
import subprocess
import sys
import tempfile

NAMESPACES = ("kelvarin", "keltk")
HEADER_DIRS = ("framework/include", "toolkit/include", "qthost/include")

# The module entry points (extern "C", PluginModule.h) are declared for the
# plug-in modules, which define them; no library does. They lie outside the
# namespaces read, and stay exempt should a scan ever reach them.
EXEMPT = {"GetPluginInfo", "RegisterKelvarin"}

FUNCTION_KINDS = {
    "FunctionDecl",
    "CXXMethodDecl",
    "CXXConstructorDecl",
    "CXXDestructorDecl",
    "CXXConversionDecl",
}
# Code in these is made where it is used (templates) or not at all.
TEMPLATE_KINDS = {
    "FunctionTemplateDecl",
    "ClassTemplateDecl",
    "ClassTemplateSpecializationDecl",
    "ClassTemplatePartialSpecializationDecl",
    "TypeAliasTemplateDecl",
    "VarTemplateDecl",
}


def headers(source_dir):
    found = []
    for base in HEADER_DIRS:
        root = os.path.join(source_dir, base)
        for folder, _, files in os.walk(root):
            for name in files:
                if name.endswith(".h"):
                    found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def ast_dumps(source_dir, names):
    """The AST (JSON) of the declarations whose qualified names contain `names`."""
    includes = "".join(f"#include <{h}>\n" for h in headers(source_dir))
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as tu:
        tu.write(includes)
    try:
        for name in names:
            command = ["clang++", "-std=c++20", "-fsyntax-only", "-Xclang", "-ast-dump=json",
                       "-Xclang", f"-ast-dump-filter={name}"]
            command += [f"-I{os.path.join(source_dir, d)}" for d in HEADER_DIRS]
            text = subprocess.run(command + [tu.name], check=True, capture_output=True,
                                  text=True).stdout
            decoder = json.JSONDecoder()
            at = 0
            while True:
                while at < len(text) and text[at].isspace():
                    at += 1
                if at >= len(text):
                    break
                node, at = decoder.raw_decode(text, at)
                yield node
    finally:
        os.unlink(tu.name)


def needs_definition(node, in_class):
    if node.get("isImplicit") or node.get("inline") or node.get("constexpr"):
        return False
    if node.get("explicitlyDeleted") or node.get("explicitlyDefaulted") or node.get("pure"):
        return False
    # A function of a namespace that is static is the including file's own.
    if not in_class and node.get("storageClass") == "static":
        return False
    return True


def has_body(node):
    return any(child.get("kind") == "CompoundStmt" for child in node.get("inner", []))


def declared_functions(nodes):
    """(mangled names declared without a body, mangled names with a body)."""
    declared, defined = {}, set()
    # The dump names a file and line only where they change from the node before.
    place = {"file": None, "line": None}

    def follow(location):
        for key in ("spellingLoc", "expansionLoc"):
            if key in location:
                follow(location[key])
        for key in ("file", "line"):
            if key in location:
                place[key] = location[key]

    def walk(node, in_class, internal, scope=""):
        kind = node.get("kind")
        follow(node.get("loc", {}))
        where = dict(place)
        for end in ("begin", "end"):
            follow(node.get("range", {}).get(end, {}))
        if kind in TEMPLATE_KINDS:
            return
        if kind == "NamespaceDecl" and "name" not in node:
            internal = True  # an unnamed namespace: nothing of it is exported
        if kind in FUNCTION_KINDS and "mangledName" in node:
            mangled = node["mangledName"]
            if has_body(node):
                defined.add(mangled)
            elif not internal and needs_definition(node, in_class):
                declared.setdefault(mangled, (scope + node.get("name", "?"), where["file"],
                                              where["line"]))
            for child in node.get("inner", []):  # keeps the places in step
                walk(child, False, True)
            return
        inner_class = kind == "CXXRecordDecl" or (in_class and kind != "NamespaceDecl")
        if kind in ("NamespaceDecl", "CXXRecordDecl") and "name" in node:
            scope += node["name"] + "::"
        for child in node.get("inner", []):
            walk(child, inner_class, internal, scope)

    for node in nodes:
        walk(node, False, False)
    return declared, defined


def library_symbols(libraries):
    names = set()
    for library in libraries:
        out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            parts = line.split()
            if len(parts) >= 3:
                names.add(parts[2].split("@")[0])
    return names


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip().splitlines()[3].strip(), file=sys.stderr)
        return 2
    source_dir, libraries = argv[1], argv[2:]
    declared, defined = declared_functions(ast_dumps(source_dir, NAMESPACES))
    exported = library_symbols(libraries)
    missing = sorted(
        (info, mangled) for mangled, info in declared.items()
        if mangled not in defined and mangled not in exported
        and info[0] not in EXEMPT)
    for (name, file, line), mangled in missing:
        where = os.path.relpath(file, source_dir) if file else "?"
        print(f"{where}:{line}: {name} ({mangled}) is declared but no library defines it")
    print(f"{len(declared)} declared functions checked against {len(libraries)} libraries, "
          f"{len(missing)} undefined")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
