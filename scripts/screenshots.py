#!/usr/bin/env python3
"""Takes screenshots of the main window, the about window and the corner notification under a
private X server (with a window manager), into build/screenshots/. Builds first when there is no
build yet (scripts/build.sh). Needs ImageMagick's import (scripts/install-deps.sh installs it).

Each window is brought up the way a user would get it, by a small driver script added to a copy
of the main page: it clicks the about button, or raises the notification.
"""

import os
import shutil
import signal
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


def ensure_build():
    """True once the program is built, building it first when it is not."""
    if os.path.exists(os.path.join(os.environ["MORVIL_BIN_DIR"], "morvil")):
        return True
    print("screenshots.py: morvil is not built yet; building it first (scripts/build.sh)",
          flush=True)
    if subprocess.run([os.path.join(ROOT, "scripts", "build.sh")]).returncode != 0:
        print("screenshots.py: the build failed; no screenshots taken", file=sys.stderr)
        return False
    return True


def shoot(name, driver):
    """One screenshot; the X server, its window manager and the program end whatever happens."""
    x = harness.XServer(window_manager=True)
    try:
        m = harness.Morvil(x, product_pages(driver))
        try:
            m.start()
            if not m.find_window():
                print(f"{name}: the main window did not appear", file=sys.stderr)
                return False
            time.sleep(2.5)  # let the page, its effects and the other windows settle
            target = os.path.join(OUT, f"{name}.png")
            subprocess.run(["import", "-window", "root", target], env=x.env(), check=True)
            print(target)
            return True
        finally:
            m.close()
    finally:
        x.close()


def main():
    # A termination request ends the run through the clean-up of shoot(), like Ctrl+C does.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda *_, n=number: sys.exit(128 + n))
    if not shutil.which("import"):
        print("screenshots.py: ImageMagick's import is missing; run scripts/install-deps.sh",
              file=sys.stderr)
        return 1
    if not ensure_build():
        return 1
    os.makedirs(OUT, exist_ok=True)
    for name, driver in DRIVERS.items():
        if not shoot(name, driver):
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
