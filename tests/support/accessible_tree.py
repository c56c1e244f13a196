#!/usr/bin/env python3
"""Reads a running program's accessibility tree over AT-SPI, as a screen
reader does, and prints one "role<TAB>name" line per object.

    accessible_tree.py APPLICATION-NAME [SECONDS]

Waits up to SECONDS (10 by default) for the application to appear on the
accessibility bus; exits 1 if it never does. The walk is bounded in depth
and in the number of objects."""
import sys
import time

import pyatspi

MAX_DEPTH = 20
MAX_OBJECTS = 2000


def find_application(name):
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == name:
            return application
    return None


def walk(root):
    pending = [(root, 0)]
    seen = 0
    while pending and seen < MAX_OBJECTS:
        accessible, depth = pending.pop()
        seen += 1
        print(f"{accessible.getRoleName()}\t{accessible.name}")
        if depth < MAX_DEPTH:
            pending.extend((child, depth + 1) for child in accessible if child is not None)


def main():
    name = sys.argv[1]
    deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 10)
    while time.monotonic() < deadline:
        application = find_application(name)
        if application is not None:
            walk(application)
            return 0
        time.sleep(0.2)
    print(f"{name} is not on the accessibility bus", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
