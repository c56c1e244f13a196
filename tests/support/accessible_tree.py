#!/usr/bin/env python3
"""Reads a running program's accessibility tree over AT-SPI, as a screen
reader does, and prints one "role<TAB>name<TAB>labelled by" line per
object (the last field is the name of the object that labels it, if any).

    accessible_tree.py APPLICATION-NAME [SECONDS [KEY]]

Waits up to SECONDS (10 by default) for the application to appear on the
accessibility bus; exits 1 if it never does. The walk is bounded in depth
and in the number of objects. With KEY, it then presses that key with
xdotool, as a user would, and prints a "changed<TAB>role<TAB>name" line
for each change of a name or value that a screen reader is told of, until
one comes from a combo box or SECONDS have passed."""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

MAX_DEPTH = 20
MAX_OBJECTS = 2000


def find_application(name):
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == name:
            return application
    return None


def labelled_by(accessible):
    for relation in accessible.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY and relation.getNTargets() > 0:
            return relation.getTarget(0).name
    return ""


def walk(root):
    pending = [(root, 0)]
    seen = 0
    while pending and seen < MAX_OBJECTS:
        accessible, depth = pending.pop()
        seen += 1
        print(f"{accessible.getRoleName()}\t{accessible.name}\t{labelled_by(accessible)}")
        if depth < MAX_DEPTH:
            pending.extend((child, depth + 1) for child in accessible if child is not None)


def listen_for_names():
    changes = []

    def changed(event):
        changes.append((event.source.getRoleName(), event.source.name))

    # Qt tells of a combo box's new name only to readers that also listen
    # for value changes, as screen readers do.
    pyatspi.Registry.registerEventListener(changed, "object:property-change:accessible-name",
                                           "object:property-change:accessible-value")
    return changes


def announce_after(key, seconds, changes):
    """Presses key, once the program has had a moment to learn that a
    reader listens, and prints the name changes until a combo box's."""
    def report():
        while changes:
            role, name = changes.pop(0)
            print(f"changed\t{role}\t{name}", flush=True)
            if role == "combo box":
                pyatspi.Registry.stop()
                return False
        return True

    def press():
        subprocess.run(["xdotool", "key", key], check=False, timeout=seconds)
        return False

    GLib.timeout_add(500, press)
    GLib.timeout_add(50, report)
    GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
    pyatspi.Registry.start()


def main():
    name = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        application = find_application(name)
        if application is not None:
            changes = listen_for_names()
            walk(application)
            if len(sys.argv) > 3:
                announce_after(sys.argv[3], seconds, changes)
            return 0
        time.sleep(0.2)
    print(f"{name} is not on the accessibility bus", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
