#!/usr/bin/env python3
"""Takes screenshots of the main window, the about window and the corner notification under a
private X server (with a window manager), into build/screenshots/. Run after scripts/build.sh.

Each window is brought up the way a user would get it, by a small driver script added to a copy
of the main page: it clicks the about button, or raises the notification.
"""

import os
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
os.environ.setdefault("MORVIL_BIN_DIR", os.path.join(ROOT, "build", "bin"))

import harness  # noqa: E402

OUT = os.path.join(ROOT, "build", "screenshots")

DRIVERS = {
    "main": "",
    "about": "setTimeout(function () { document.getElementById('about').onclick(); }, 600);",
    "notification": ("setTimeout(function () { host.call('InsertPair', 'ui.notification', "
                     "'Acceleration is on'); host.call('NewInstance', 0, 'notify.html', "
                     "'.container'); }, 600);"),
}


def product_pages(driver):
    """The product's pages, with the driver appended to a copy of the main page."""
    pages = {}
    res = os.path.join(ROOT, "res")
    for folder, _, files in os.walk(res):
        for name in files:
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, res)
            if rel.startswith("images"):
                continue
            with open(path, encoding="utf-8") as f:
                pages[rel] = f.read()
    pages["index.html"] = pages["index.html"].replace(
        "</body>", f"<script>window.addEventListener('load', function () {{ {driver} }});"
                   f"</script></body>")
    return pages


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, driver in DRIVERS.items():
        x = harness.XServer(window_manager=True)
        m = harness.Morvil(x, product_pages(driver))
        try:
            m.start()
            if not m.find_window():
                print(f"{name}: the main window did not appear")
                return 1
            time.sleep(2.5)
            target = os.path.join(OUT, f"{name}.png")
            subprocess.run(["import", "-window", "root", target], env=x.env(), check=True)
            print(target)
        finally:
            m.close()
            x.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
