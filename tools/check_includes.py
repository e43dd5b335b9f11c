#!/usr/bin/env python3
"""Checks that every #include between the product's folders points the one
allowed way. Usage: check_includes.py ROOT [--self-test]

Exits 1 and names each file and line that includes against the matrix."""
import pathlib
import re
import sys
import tempfile

# Which layers each layer may include (itself always).
ALLOWED = {
    # Every text both the launcher and the tools read: portable, it uses nothing of ours.
    "format": set(),
    # The platform's owners and settings; the limits and texts of format/ are
    # the sizes its values are read with.
    "base": {"format"},
    "record": {"format", "base"},
    "zip": {"format", "base"},
    "update": {"format", "zip", "base"},
    "ui": {"base"},
    "launcher": {"format", "record", "update", "ui", "zip", "base"},
    "control": {"format", "record", "base"},
    # The maintenance service: the update layers without the user interface.
    "service": {"format", "update", "zip", "base"},
    # The publisher's tool runs on the publisher's machine: of the product's
    # code only the shared text definitions.
    "publish": {"format"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z0-9_]+)/')
SOURCES = {".h", ".cpp", ".c", ".rc", ".idl"}


def violations(root):
    found = []
    for layer, allowed in ALLOWED.items():
        folder = root / layer
        if not folder.is_dir():
            found.append(f"{layer}/: missing")
            continue
        for path in sorted(folder.rglob("*")):
            if path.suffix not in SOURCES:
                continue
            lines = path.read_text(encoding="utf-8", errors="replace").splitlines()
            for number, line in enumerate(lines, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = match.group(1)
                if target in ALLOWED and target != layer and target not in allowed:
                    found.append(f"{path.relative_to(root)}:{number}: {layer}/ may not include {target}/")
    return found


def self_test():
    """The check must catch a wrong direction, or passing it proves nothing."""
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        for layer in ALLOWED:
            (root / layer).mkdir()
        (root / "ui" / "dialog.cpp").write_text('#include "base/a.h"\n#include "launcher/app.h"\n')
        (root / "update" / "worker.cpp").write_text('#include "zip/z.h"\n  #  include "ui/texts.h"\n')
        (root / "launcher" / "flow.cpp").write_text('#include "ui/dialogs.h"\n#include "update/w.h"\n')
        (root / "format" / "manifest.cpp").write_text('#include "format/limits.h"\n#include "base/field.h"\n')
        (root / "publish" / "tool.cpp").write_text('#include "format/manifest.h"\n#include "zip/z.h"\n')
        found = violations(root)
        expected = ["ui/dialog.cpp:2: ui/ may not include launcher/",
                    "update/worker.cpp:2: update/ may not include ui/",
                    "format/manifest.cpp:2: format/ may not include base/",
                    "publish/tool.cpp:2: publish/ may not include zip/"]
        if sorted(found) != sorted(expected):
            print("include check self-test failed:", found, file=sys.stderr)
            return False
    return True


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    if "--self-test" in sys.argv[2:] and not self_test():
        return 1
    found = violations(pathlib.Path(sys.argv[1]))
    for line in found:
        print(line, file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
