"""Runs the real morvil under a private X server and looks at its windows with real X clients."""

import ctypes
import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

BIN_DIR = os.environ.get("MORVIL_BIN_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..", "build", "bin")
PAGES_DIR = os.path.join(os.path.dirname(__file__), "pages")
PRODUCT = "Morvil Accelerator"
# How long a page may take to show up or record its result: each page starts a sandboxed web
# process (bubblewrap and a bus proxy), which a loaded machine makes slow. Only a failing test
# waits this long.
PAGE_TIMEOUT = 45.0


def probe_page(script, title=PRODUCT, size=(300, 200), extra=""):
    """A local test page with a container and the probe; `script` runs after the layout, with
    `ext` standing for window.external."""
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{title}</title>"
            f"<script src='probe.js'></script><style>body{{margin:0}}</style></head><body>"
            f"<div class='container' style='width:{size[0]}px;height:{size[1]}px'></div>{extra}"
            f"<script>var ext = window.external;"
            f"window.onload = function () {{ setTimeout(function () {{ {script} }}, 300); }};"
            f"</script></body></html>")


def wait_until(predicate, timeout=15.0, interval=0.05):
    """Polls predicate until it returns a true value; returns that value or None on time-out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            return None
        time.sleep(interval)


def _end_with_parent():
    """Run in a child before it starts: the kernel ends it when the test process ends, even
    when that process is killed and cannot clean up."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM, 0, 0, 0)  # PR_SET_PDEATHSIG


class XServer:
    """A private Xvfb display, optionally with a window manager (openbox)."""

    def __init__(self, width=1920, height=1080, window_manager=False):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL,
            preexec_fn=_end_with_parent)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()
        self.wm = None
        if window_manager:
            self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env(),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                       preexec_fn=_end_with_parent)
            wait_until(lambda: "_NET_SUPPORTING_WM_CHECK" in self.xprop_root(), timeout=10)

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def xprop_root(self):
        return subprocess.run(["xprop", "-root"], env=self.env(), capture_output=True,
                              text=True).stdout

    def close(self):
        for p in (self.wm, self.proc):
            if p and p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()


class WindowInfo:
    def __init__(self, text):
        self.text = text

    def _int(self, label):
        m = re.search(label + r":\s+(-?\d+)", self.text)
        return int(m.group(1)) if m else None

    @property
    def x(self):
        return self._int("Absolute upper-left X")

    @property
    def y(self):
        return self._int("Absolute upper-left Y")

    @property
    def width(self):
        return self._int("Width")

    @property
    def height(self):
        return self._int("Height")

    @property
    def viewable(self):
        return "IsViewable" in self.text


class Morvil:
    """A copy of the program in a temporary directory with its own res/ pages and runtime dir."""

    def __init__(self, xserver, pages, runtime_dir=None, extra_programs=(), folder=None):
        self.x = xserver
        self.top = self.root = tempfile.mkdtemp(prefix="morvil-e2e-")
        if folder:  # the program in a folder of this name inside the temporary directory
            self.root = os.path.join(self.top, folder)
            os.makedirs(self.root)
        shutil.copy2(os.path.join(BIN_DIR, "morvil"), self.root)
        for tool in extra_programs:
            shutil.copy2(os.path.join(BIN_DIR, tool), self.root)
        shutil.copytree(os.path.join(BIN_DIR, "webext"), os.path.join(self.root, "webext"))
        res = os.path.join(self.root, "res")
        shutil.copytree(os.path.join(BIN_DIR, "res", "images"), os.path.join(res, "images"))
        for name, content in pages.items():
            path = os.path.join(res, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if isinstance(content, str) and content.startswith("@"):
                shutil.copy2(os.path.join(PAGES_DIR, content[1:]), path)
            else:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(content)
        self.runtime_dir = runtime_dir or os.path.join(self.root, "runtime")
        os.makedirs(self.runtime_dir, mode=0o700, exist_ok=True)
        self.procs = []
        self.extra_env = {}

    def env(self):
        env = self.x.env()
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        # Nothing a test runs may reach the real report endpoints.
        env.setdefault("MORVIL_REPORT_URL", "http://127.0.0.1:9/report")
        env.setdefault("MORVIL_ANALYTICS_URL", "http://127.0.0.1:9")
        env.update(self.extra_env)
        env.setdefault("WEBKIT_DISABLE_COMPOSITING_MODE", "1")
        return env

    def start(self, *args, wrapper=()):
        """Starts the program with args; `wrapper` is a command line it runs under (for example
        a private network namespace)."""
        log = open(os.path.join(self.root, f"morvil-{len(self.procs)}.log"), "w")
        proc = subprocess.Popen([*wrapper, os.path.join(self.root, "morvil"), *args],
                                env=self.env(), stdout=log, stderr=subprocess.STDOUT)
        log.close()
        self.procs.append(proc)
        return proc

    def run_tool(self, *cmd, timeout=20):
        """Runs a program of the build (acc-request, ...) in the program's environment."""
        return subprocess.run([os.path.join(BIN_DIR, cmd[0]), *cmd[1:]], env=self.env(),
                              capture_output=True, text=True, timeout=timeout)

    def run_x(self, *cmd):
        return subprocess.run(list(cmd), env=self.x.env(), capture_output=True, text=True).stdout

    def find_windows(self, title=PRODUCT):
        """The ids of the top-level client windows named title (searched through the whole
        tree); a tray icon's plug, which carries the same name, is no such window."""
        tree = self.run_x("xwininfo", "-root", "-tree")
        found = []
        for line in tree.splitlines():
            m = re.match(r'\s*(0x[0-9a-f]+) "(.*)":', line)
            if m and m.group(2) == title and "_XEMBED_INFO(" not in self.prop(m.group(1),
                                                                              "_XEMBED_INFO"):
                found.append(m.group(1))
        return found

    def find_window(self, title=PRODUCT, timeout=PAGE_TIMEOUT):
        """The id of the first top-level client window named title, once there is one."""
        return wait_until(lambda: next(iter(self.find_windows(title)), None), timeout)

    def find_client(self, timeout=PAGE_TIMEOUT):
        """The program's page window before it has a title: its class is morvil, its size is
        not that of GDK's 10 x 10 leader window."""
        def search():
            for line in self.run_x("xwininfo", "-root", "-tree").splitlines():
                if '("morvil" "Morvil")' in line and "10x10+" not in line:
                    return line.split()[0]
            return None
        return wait_until(search, timeout)

    def info(self, wid):
        return WindowInfo(self.run_x("xwininfo", "-id", wid))

    def shape_extents(self, wid):
        """(x, y, width, height) of the bounding shape, relative to the window."""
        text = self.run_x("xwininfo", "-shape", "-id", wid)
        m = re.search(r"Window shape extents:\s+(\d+)x(\d+)([+-]\d+)([+-]\d+)", text)
        if not m:
            return None
        return (int(m.group(3)), int(m.group(4)), int(m.group(1)), int(m.group(2)))

    def prop(self, wid, name):
        return self.run_x("xprop", "-id", wid, name).strip()

    def popup_menu(self, timeout=10.0):
        """The id of a popup menu window on the screen, once there is one."""
        def search():
            for line in self.run_x("xwininfo", "-root", "-children").splitlines():
                m = re.match(r"\s*(0x[0-9a-f]+) ", line)
                if (m and "POPUP_MENU" in self.prop(m.group(1), "_NET_WM_WINDOW_TYPE")
                        and self.info(m.group(1)).viewable):
                    return m.group(1)
            return None
        return wait_until(search, timeout)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.x.env(), check=True)

    def opacity(self, wid):
        """The _NET_WM_WINDOW_OPACITY as 0..1, or None when the window is opaque (no property)."""
        m = re.search(r"= (\d+)", self.prop(wid, "_NET_WM_WINDOW_OPACITY"))
        return int(m.group(1)) / 0xFFFFFFFF if m else None

    def result(self, name="result.json", timeout=PAGE_TIMEOUT):
        """The JSON record a test page saved with probe.save(name), once it exists."""
        path = os.path.join(self.root, name)

        def read():
            try:
                with open(path, encoding="utf-8") as f:
                    return [json.load(f)]
            except (OSError, ValueError):
                return None
        found = wait_until(read, timeout)
        return found[0] if found else None

    def request_close(self, wid):
        """Asks the window to close as a window manager does (WM_DELETE_WINDOW)."""
        send_delete_window(self.x.display, int(wid, 16))

    def close(self):
        for p in self.procs:
            if p.poll() is None:
                p.send_signal(signal.SIGKILL)
                p.wait(5)
        if not os.environ.get("MORVIL_E2E_KEEP"):  # keep the directory and logs for debugging
            shutil.rmtree(self.top, ignore_errors=True)


class _ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("client", _ClientMessage), ("pad", ctypes.c_long * 24)]


def send_delete_window(display_name, window):
    x11 = ctypes.CDLL("libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(_XEvent)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    dpy = x11.XOpenDisplay(display_name.encode())
    event = _XEvent()
    event.client.type = 33  # ClientMessage
    event.client.window = window
    event.client.message_type = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    event.client.format = 32
    event.client.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    event.client.data[1] = 0
    x11.XSendEvent(dpy, window, 0, 0, ctypes.byref(event))
    x11.XFlush(dpy)
    x11.XCloseDisplay(dpy)


class PageServer:
    """A loopback HTTP server for remote pages; paths under /slow/ answer after a delay."""

    def __init__(self, pages, delay=0.0):
        outer = self
        self.requests = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                outer.requests.append(self.path)
                if self.path.startswith("/slow/"):
                    time.sleep(outer.delay)
                body = pages.get(self.path.split("?")[0], "").encode()
                self.send_response(200 if body or self.path.startswith("/slow/") else 404)
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.delay = delay
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class E2ETest(unittest.TestCase):
    """Gives each test its own X server (with a window manager when WINDOW_MANAGER is set)."""

    WINDOW_MANAGER = False

    def setUp(self):
        if not os.path.exists(os.path.join(BIN_DIR, "morvil")):
            self.skipTest("morvil is not built")
        self.x = XServer(window_manager=self.WINDOW_MANAGER)
        self.addCleanup(self.x.close)

    def morvil(self, pages, **kw):
        m = Morvil(self.x, pages, **kw)
        self.addCleanup(m.close)
        self.addCleanup(self._print_logs_on_failure, m)
        return m

    def _print_logs_on_failure(self, m):
        """The program's own output, shown beside a failure (runs before the copy is removed)."""
        result = getattr(self._outcome, "result", None)
        failed = result and any(test is self for test, _ in result.failures + result.errors)
        if not failed:
            return
        for name in sorted(os.listdir(m.root)):
            if name.endswith(".log"):
                with open(os.path.join(m.root, name), errors="replace") as f:
                    print(f"--- {name}\n{f.read()[-4000:]}")
