"""The report library inside a program of its own: it never ends its host, nor leaves threads or
signal handlers behind in it."""

import os
import shutil
import subprocess
import tempfile
import unittest

from harness import BIN_DIR, PageServer, wait_until

HOST = os.path.join(BIN_DIR, "..", "tests", "quillet-host")
LIBRARY = os.path.join(BIN_DIR, "libQuillet.so")


class SessionBus:
    """A private session bus that the test can end under its clients."""

    def __init__(self):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", f"--print-address={write_fd}"],
            pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.address = f.readline().strip()

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)


class ReportLibraryTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(HOST):
            self.skipTest("quillet-host is not built")
        self.root = tempfile.mkdtemp(prefix="quillet-host-")
        self.addCleanup(shutil.rmtree, self.root, True)

    def test_host_outlives_its_session_bus_and_keeps_its_threads_and_signals(self):
        server = PageServer({})
        self.addCleanup(server.close)
        bus = SessionBus()
        self.addCleanup(bus.close)
        runtime = os.path.join(self.root, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=self.root, XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                   XDG_CACHE_HOME=os.path.join(self.root, "cache"), XDG_RUNTIME_DIR=runtime,
                   DBUS_SESSION_BUS_ADDRESS=bus.address)
        # The desktop's own settings store, which talks to the session bus, as users run it.
        env.pop("GSETTINGS_BACKEND", None)
        host = subprocess.Popen([HOST, LIBRARY, server.url("/report")], env=env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: host.poll() is None and host.kill())
        self.assertEqual(host.stdout.readline().strip(), "reported")
        self.assertTrue(wait_until(lambda: any("p=first" in r for r in server.requests)),
                        server.requests)

        bus.close()
        out, _ = host.communicate("go\n", timeout=60)
        self.assertEqual(host.returncode, 0, f"the host ended: {out}")
        self.assertEqual(out.split("\n")[:3], ["threads 0", "signals", "done"])
        self.assertTrue(any("p=second" in r for r in server.requests), server.requests)

    def test_reports_go_through_the_hosts_environment_proxy(self):
        # The library asks no desktop resolver: the proxy is the one the host's environment names.
        proxy = PageServer({})
        self.addCleanup(proxy.close)
        env = dict(os.environ, HOME=self.root, http_proxy=proxy.url(""), no_proxy="")
        host = subprocess.Popen([HOST, LIBRARY, "http://report.invalid/report"], env=env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: host.poll() is None and host.kill())
        out, _ = host.communicate("go\n", timeout=60)
        self.assertEqual(host.returncode, 0, out)
        self.assertTrue(any(r.startswith("http://report.invalid/report?a=host")
                            for r in proxy.requests), proxy.requests)


if __name__ == "__main__":
    unittest.main()
