#!/usr/bin/python3
"""Operates a control of a running Qt program through the accessibility bus, as a screen reader
does, and prints what the control reports afterwards.

    atspi-act.py APPLICATION ACTION NAME

ACTION is the name of one of the control's accessibility actions ("toggle", "press"; case does
not matter); NAME is
the control's accessible name (the first one found, depth first). Prints "checked" or
"unchecked" and the control's name after the action; exits with 1 when the control or the
action is not found within 10 s.
"""
import sys
import time

import pyatspi


def find(node, name, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if node.name == name and node.getRole() != pyatspi.ROLE_APPLICATION:
            return node
        for child in node:
            found = find(child, name, depth + 1)
            if found:
                return found
    except Exception:  # a node that went away while the tree was walked
        return None
    return None


def control(application, name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == application:
            return find(app, name)
    return None


def main():
    application, action, name = sys.argv[1:4]
    deadline = time.monotonic() + 10
    while (node := control(application, name)) is None:
        if time.monotonic() > deadline:
            sys.exit(f"no control named {name!r} in {application!r}")
        time.sleep(0.1)
    actions = node.queryAction()
    names = [actions.getName(i).lower() for i in range(actions.nActions)]
    if action.lower() not in names:
        sys.exit(f"{name!r} offers {names}, not {action!r}")
    actions.doAction(names.index(action.lower()))
    checked = node.getState().contains(pyatspi.STATE_CHECKED)
    print("checked" if checked else "unchecked", node.name)


if __name__ == "__main__":
    main()
