#!/usr/bin/python3
"""Drives a running program through the accessibility bus, as a screen reader does. Reads one
JSON command per line on standard input and answers each with one JSON line on standard output.

A command names a control by what a screen reader reads: "name" (its accessible name), and
optionally "role" (one of ROLES below: "push button", "text", "check box", "menu item", ...),
"states" (all of which it must have: "showing", "checked", "editable", ...), "text" (its whole
text) and "within" (the name of a control it lies in, such as a card). "id" instead picks a
control remembered by "watch"; the other keys are then conditions on it (its name may change).

    {"op": "attach", "pid": N}       follow the application of that process from now on
    {"op": "wait", ...}              the control, once one matches
    {"op": "absent", ...}            waits until no control matches
    {"op": "focused", "name": N}     waits until the control named N has the keyboard focus
    {"op": "menu", "shown": N}       waits until more than N pop-up menus have been shown:
                                     {"ok": true, "shown": how many}
    {"op": "act", "action": A, ...}  runs the control's action A ("press", "toggle"; any case)
    {"op": "settext", "value": T, ...}  replaces the text of an editable control
    {"op": "watch", "as": ID, ...}   remembers the control under ID
    {"op": "list", ...}              every matching control (no wait): {"ok": true, "controls": [...]}

Each waits up to "timeout" seconds (default 20). The answer describes the control:
{"ok": true, "name", "role", "states", "text", "extents": [x, y, width, height]}, or is
{"ok": false, "error": "..."}.
"""
import json
import sys
import time

import pyatspi
from gi.repository import GLib

STATES = ("showing", "visible", "enabled", "editable", "checked", "focused", "read_only")
# Roles by the names commands use. They are compared as values: the bus's own names change
# between releases (AT-SPI 2.56 calls a push button "button").
ROLES = {"push button": pyatspi.ROLE_PUSH_BUTTON, "text": pyatspi.ROLE_TEXT, "check box": pyatspi.ROLE_CHECK_BOX,
         "menu item": pyatspi.ROLE_MENU_ITEM, "label": pyatspi.ROLE_LABEL, "popup menu": pyatspi.ROLE_POPUP_MENU,
         "list item": pyatspi.ROLE_LIST_ITEM, "combo box": pyatspi.ROLE_COMBO_BOX, "frame": pyatspi.ROLE_FRAME}


def role_name(node):
    role = node.getRole()
    return next((name for name, value in ROLES.items() if value == role), node.getRoleName())


def text_of(node):
    try:
        return node.queryText().getText(0, -1)
    except NotImplementedError:
        return None


def describe(node):
    state = node.getState()
    extents = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return {"name": node.name, "role": role_name(node), "text": text_of(node),
            "states": [s for s in STATES if state.contains(getattr(pyatspi, "STATE_" + s.upper()))],
            "extents": [extents.x, extents.y, extents.width, extents.height]}


def matches(node, want):
    if "name" in want and node.name != want["name"]:
        return False
    if "role" in want and node.getRole() != ROLES[want["role"]]:
        return False
    state = node.getState()
    if not all(state.contains(getattr(pyatspi, "STATE_" + s.upper())) for s in want.get("states", ())):
        return False
    return "text" not in want or text_of(node) == want["text"]


def children(node, depth):
    """The node's children, none past a depth no window has, or for a node that went away."""
    try:
        return [child for child in node if child is not None] if depth < 40 else []
    except Exception:
        return []


def search(node, want, depth=0):
    """The first matching node, depth first (a card comes before the labels and editor inside it)."""
    try:
        if matches(node, want):
            return node
    except Exception:  # it went away while the tree was read
        return None
    return next((found for child in children(node, depth) if (found := search(child, want, depth + 1))), None)


def pause(seconds):
    """Hands the events that came meanwhile to their listeners."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if not GLib.MainContext.default().iteration(False):
            time.sleep(0.005)


def collect(node, want, found, depth=0):
    try:
        if matches(node, want):
            found.append(describe(node))
    except Exception:  # it went away while the tree was read
        return found
    for child in children(node, depth):
        collect(child, want, found, depth + 1)
    return found


class Driver:
    def __init__(self):
        self.app = None
        self.watched = {}
        # What has the keyboard focus, as a screen reader hears of it: pop-up menus, for one,
        # are no children of their application, and their items are only met this way.
        self.focused = None
        self.menus = 0  # pop-up menus shown so far
        pyatspi.Registry.registerEventListener(self.focus, "object:state-changed:focused")
        pyatspi.Registry.registerEventListener(self.shown, "object:state-changed:showing")

    def focus(self, event):
        if event.detail1:
            self.focused = event.source.name

    def shown(self, event):
        if event.detail1 and event.source.getRole() == pyatspi.ROLE_POPUP_MENU:
            self.menus += 1

    def find(self, command):
        want = {k: command[k] for k in ("name", "role", "states", "text") if k in command}
        if "id" in command:
            node = self.watched[command["id"]]
            try:
                if node.getState().contains(pyatspi.STATE_DEFUNCT):
                    return None
                return node if matches(node, want) else None
            except Exception:  # gone with its window or screen
                return None
        root = search(self.app, {"name": command["within"]}) if "within" in command else self.app
        return None if root is None else search(root, want)

    def attach(self, pid):
        self.app = next((a for a in pyatspi.Registry.getDesktop(0) if a is not None and a.get_process_id() == pid), None)
        return self.app

    def run(self, command):
        op = command["op"]
        deadline = time.monotonic() + command.get("timeout", 20)
        while True:
            try:
                if op == "list":
                    return {"ok": True, "controls": collect(self.app, {k: command[k] for k in ("role", "states") if k in command}, [])}
                if op == "attach":
                    if self.attach(command["pid"]) is not None:
                        return {"ok": True}
                elif op == "menu":
                    if self.menus > command["shown"]:
                        return {"ok": True, "shown": self.menus}
                elif op == "focused":
                    if self.focused == command["name"]:
                        return {"ok": True}
                elif op == "absent":
                    if self.find(command) is None:
                        return {"ok": True}
                elif (node := self.find(command)) is not None:
                    return self.perform(op, node, command)
            except Exception:  # a node that went away while it was read: look again
                pass
            if time.monotonic() > deadline:
                return {"ok": False, "error": f"timed out: {json.dumps(command, ensure_ascii=False)}"}
            pause(0.05)

    def perform(self, op, node, command):
        if op == "act":
            actions = node.queryAction()
            names = [actions.getName(i).lower() for i in range(actions.nActions)]
            if command["action"].lower() not in names:
                return {"ok": False, "error": f"{node.name!r} offers {names}"}
            actions.doAction(names.index(command["action"].lower()))
        elif op == "settext":
            if not node.queryEditableText().setTextContents(command["value"]):
                return {"ok": False, "error": f"{node.name!r} refused the text"}
        elif op == "watch":
            self.watched[command["as"]] = node
        return {"ok": True, **describe(node)}


def main():
    driver = Driver()
    for line in sys.stdin:
        try:
            answer = driver.run(json.loads(line))
        except Exception as error:  # a malformed command, or a node that vanished after its action
            answer = {"ok": False, "error": repr(error)}
        print(json.dumps(answer, ensure_ascii=False), flush=True)


if __name__ == "__main__":
    main()
