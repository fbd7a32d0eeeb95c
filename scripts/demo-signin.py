#!/usr/bin/python3
"""Signs in to a running Quillpost with the demo account, as a person would, through the
accessibility interface, and saves screenshots of the sign-in screen and the receiver panel.

    demo-signin.py SCREENSHOT-DIR
"""
import os
import sys
import time

import pyatspi
from PIL import ImageGrab

PHONE = "13800000000"
CODE = "123456"


def wait_for(what, probe, timeout=20.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
    sys.exit(f"demo: timed out waiting for {what}")


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name and app.name.lower() == "quillpost":
            return app
    return None


def find(node, name, roles=None, depth=0):
    if node is None or depth > 40:
        return None
    try:
        if node.name == name and (roles is None or node.getRole() in roles):
            return node
        for child in node:
            found = find(child, name, roles, depth + 1)
            if found:
                return found
    except Exception:  # a node that vanished while we walked the tree
        return None
    return None


def set_text(app, name, text):
    field = wait_for(f"the field {name}", lambda: find(app, name, {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY}))
    field.queryEditableText().setTextContents(text)


def press(app, name):
    button = wait_for(f"the button {name}", lambda: find(app, name, {pyatspi.ROLE_PUSH_BUTTON}))
    button.queryAction().doAction(0)


def screenshot(path):
    ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).save(path)
    print(f"demo: saved {path}")


def main():
    shots = sys.argv[1]
    app = wait_for("Quillpost to start", application)
    wait_for("the sign-in screen", lambda: find(app, "进入Quillpost", {pyatspi.ROLE_PUSH_BUTTON}))
    time.sleep(0.5)  # let the window finish drawing
    screenshot(os.path.join(shots, "1-sign-in.png"))

    set_text(app, "手机号", PHONE)
    press(app, "获取验证码")
    set_text(app, "短信验证码", CODE)
    press(app, "进入Quillpost")

    wait_for("the receiver panel", lambda: find(app, "最新内容"))
    wait_for("the first clips", lambda: find(app, "● 已同步"))
    time.sleep(1.0)  # the arrival fade and the first layout
    screenshot(os.path.join(shots, "2-panel.png"))


if __name__ == "__main__":
    main()
