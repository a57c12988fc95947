"""The SOCKS5 test server of tests/support run for an end-to-end test; its log lines collect in
`lines` so a test can wait for the connections it expects to see."""
import os
import subprocess
import sys
import threading

from harness import wait_until

SERVER = os.path.join(os.path.dirname(__file__), "..", "support", "socks5_test_server.py")


class Socks5Proxy:
    def __init__(self, user, password=None, auth="password", bind="127.0.0.1", sources=()):
        self.host = bind
        self.proc = subprocess.Popen(
            [sys.executable, SERVER, "--auth", auth, "--user", user,
             "--password", user if password is None else password, "--bind", bind,
             *(arg for source in sources for arg in ("--source", source))],
            stdout=subprocess.PIPE, text=True)
        self.port = int(self.proc.stdout.readline())
        self.lines = []
        threading.Thread(target=self._collect, daemon=True).start()

    def _collect(self):
        for line in self.proc.stdout:
            self.lines.append(line.strip())

    def saw(self, line, timeout=10.0):
        """Whether the server logs `line` before the deadline."""
        return wait_until(lambda: line in self.lines, timeout=timeout)

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()
