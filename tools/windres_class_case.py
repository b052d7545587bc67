#!/usr/bin/env python3
"""Puts the case of custom control classes back in a .res file made by GNU windres.

windres upper-cases the class named in a dialog's CONTROL statement ("quorvend.console"
becomes "QUORVEND.CONSOLE"); Microsoft's rc keeps it as written. Window classes match
without regard to case, but the templates must carry the names exactly as written.
The classes are taken from the CONTROL statements of the resource script and of the
scripts it includes with #include "..."; only whole, NUL-terminated UTF-16 names that
equal a class in upper case are replaced, so no other text changes.

Usage: tools/windres_class_case.py SCRIPT.rc FILE.res
"""
import os
import re
import sys

CONTROL = re.compile(r'^\s*CONTROL\s+(?:L?"(?:[^"]|"")*"|[^,]+)\s*,\s*[^,]+,\s*L?"([^"]+)"', re.MULTILINE)
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def classes_of(script, seen):
    script = os.path.abspath(script)
    if script in seen or not os.path.isfile(script):
        return set()
    seen.add(script)
    with open(script, "rb") as f:
        text = f.read().decode("latin-1")
    found = set(CONTROL.findall(text))
    for name in INCLUDE.findall(text):
        path = name if os.path.isabs(name) else os.path.join(os.path.dirname(script), name)
        found |= classes_of(path, seen)
    return found


def main(argv):
    if len(argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    script, res = argv[1], argv[2]
    with open(res, "rb") as f:
        data = f.read()
    for name in sorted(classes_of(script, set())):
        if name == name.upper():
            continue
        wrong = (name.upper() + "\0").encode("utf-16-le")
        right = (name + "\0").encode("utf-16-le")
        # The class follows the item's id, a DWORD: anchor on a NUL code unit before it.
        data = data.replace(b"\0\0" + wrong, b"\0\0" + right)
    with open(res, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
