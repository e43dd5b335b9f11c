#!/usr/bin/env python3
"""The version block of one of our Windows programs, as Windows Installer's
file-versioning rules and a file's properties read it.

Usage: pe_version.py read FILE
           prints the file version and the language ("1.0.1.0 1041")
       pe_version.py stamp FILE VERSION
           writes VERSION (major.minor.build) into the file's fixed block and
           its FileVersion/ProductVersion texts, in place: the client
           package of another version than the build's (the package test's
           older and newer releases) holds the same programs under its own
           version, as a release build of it would have them.

Our resource scripts have exactly one version block; anything else is refused."""
import re
import struct
import sys

SIGNATURE = struct.pack("<I", 0xFEEF04BD)


def utf16z(text):
    return (text + "\0").encode("utf-16-le")


def only(data, needle, what):
    found = [m.start() for m in re.finditer(re.escape(needle), data)]
    if len(found) != 1:
        raise SystemExit(f"pe_version.py: {len(found)} {what} in the file, not one")
    return found[0]


def fixed_block(data):
    start = only(data, utf16z("VS_VERSION_INFO"), "version blocks")
    at = data.find(SIGNATURE, start, start + 64)
    if at < 0:
        raise SystemExit("pe_version.py: the version block has no fixed part")
    return at


def value_of(data, key):
    """Where a string value of the block starts, and its text."""
    name = only(data, utf16z(key), f"{key} values")
    at = (name + len(utf16z(key)) + 3) & ~3
    end = at
    while data[end:end + 2] != b"\0\0":
        end += 2
    return at, data[at:end].decode("utf-16-le")


def parse(version):
    parts = version.split(".")
    if len(parts) not in (3, 4) or not all(p.isdigit() for p in parts):
        raise SystemExit(f"pe_version.py: {version} is not major.minor.build")
    numbers = [int(p) for p in parts] + [0] * (4 - len(parts))
    if any(n > 0xFFFF for n in numbers):
        raise SystemExit(f"pe_version.py: {version} has a part over 65535")
    return numbers


def main(args):
    if len(args) == 2 and args[0] == "read":
        data = open(args[1], "rb").read()
        at = fixed_block(data)
        ms, ls = struct.unpack_from("<II", data, at + 8)
        translation = only(data, utf16z("Translation"), "translations")
        language = struct.unpack_from("<H", data, (translation + len(utf16z("Translation")) + 3) & ~3)[0]
        print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF} {language}")
        return 0
    if len(args) == 3 and args[0] == "stamp":
        numbers = parse(args[2])
        data = bytearray(open(args[1], "rb").read())
        at = fixed_block(data)
        ms = (numbers[0] << 16) | numbers[1]
        ls = (numbers[2] << 16) | numbers[3]
        struct.pack_into("<IIII", data, at + 8, ms, ls, ms, ls)
        text = ".".join(str(n) for n in numbers)
        for key in ("FileVersion", "ProductVersion"):
            where, old = value_of(bytes(data), key)
            if len(old) != len(text):
                raise SystemExit(f"pe_version.py: {key} {old} and {text} differ in length; build that version instead")
            data[where:where + 2 * len(text)] = text.encode("utf-16-le")
        open(args[1], "wb").write(data)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
