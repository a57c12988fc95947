"""The network-stack library on loopback: listed programs reach their peers through a SOCKS5
proxy with the token, unlisted ones and programs started while morvil is not running connect
directly, and a proxy that refuses the token fails the connection as a refused one would.

The acceleration pipe is served by tools/acc-server (the request server without a window), the
proxy is tests/support/socks5_test_server.py. Loopback peers count as remote here
(MORVIL_LSP_PROXY_LOOPBACK=1), so that everything stays on this machine.
"""

import http.server
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from acc_server import AccServer
from harness import BIN_DIR, wait_until
from socks5_proxy import Socks5Proxy

LIBRARY = os.path.join(BIN_DIR, "sorvan_lsp.so")
TOKEN = "t0ken-42"
PYTHON_NAME = os.path.basename(os.path.realpath(sys.executable))
PAGE = b"<html>through the proxy</html>"


class _Page(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Length", str(len(PAGE)))
        self.end_headers()
        self.wfile.write(PAGE)

    def log_message(self, *args):
        pass


class _Http6Server(http.server.ThreadingHTTPServer):
    address_family = socket.AF_INET6


def _udp_echo(sock):
    while True:
        try:
            data, peer = sock.recvfrom(65536)
        except OSError:
            return
        sock.sendto(data, peer)




def _answer_with_peer_port(server):
    """Answers each connection with the port it came from, so a client tells whether it reached
    the server itself (its own port) or through the proxy (the proxy's)."""
    while True:
        try:
            conn, peer = server.accept()
        except OSError:
            return
        with conn:
            conn.sendall(str(peer[1]).encode())


# Reads a line, connects once to the port-answering server, prints "direct" or "proxied".
ROUTE_PROBE = """
import socket, sys
for _ in sys.stdin:
    s = socket.create_connection(("127.0.0.1", PORT))
    own = s.getsockname()[1]
    answer = s.recv(100)
    s.close()
    print("direct" if int(answer) == own else "proxied", flush=True)
"""


class NetworkStackTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.http = http.server.ThreadingHTTPServer(("127.0.0.1", 0), _Page)
        cls.http6 = _Http6Server(("::1", 0), _Page)
        for server in (cls.http, cls.http6):
            threading.Thread(target=server.serve_forever, daemon=True).start()
        cls.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        cls.udp.bind(("127.0.0.1", 0))
        threading.Thread(target=_udp_echo, args=(cls.udp,), daemon=True).start()
        cls.ports = socket.create_server(("127.0.0.1", 0))
        threading.Thread(target=_answer_with_peer_port, args=(cls.ports,), daemon=True).start()

    @classmethod
    def tearDownClass(cls):
        cls.http.shutdown()
        cls.http6.shutdown()
        cls.udp.close()
        cls.ports.close()

    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="morvil-lsp-")
        self.runtime = os.path.join(self.scratch, "runtime")
        os.mkdir(self.runtime, 0o700)
        self.server = None
        self.proxy = Socks5Proxy(TOKEN)
        self.addCleanup(self.proxy.close)
        self.addCleanup(shutil.rmtree, self.scratch, True)

    def tearDown(self):
        self.stop_serving()

    def stop_serving(self):
        if self.server:
            self.server.close()
            self.server = None

    def serve(self, processes, proxy=None, token=TOKEN):
        """Starts the acceleration server with these settings."""
        proxy = proxy or self.proxy
        self.server = AccServer(self.env(preload=False), processes, "127.0.0.1", proxy.port, token)
        self.assertTrue(self.server.ready)

    def env(self, preload=True):
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, MORVIL_LSP_PROXY_LOOPBACK="1")
        if preload:
            env["LD_PRELOAD"] = LIBRARY
        return env

    def curl(self, url, program="curl"):
        return subprocess.run([program, "-sS", "--max-time", "20", url], env=self.env(),
                              capture_output=True, timeout=30)

    def python(self, script):
        return subprocess.run([sys.executable, "-c", script], env=self.env(),
                              capture_output=True, text=True, timeout=30)

    def connects(self):
        return [line for line in self.proxy.lines if line.startswith("connect ")]

    def test_listed_curl_fetches_through_the_proxy_with_the_token(self):
        self.serve("curl,udp-probe")
        port = self.http.server_address[1]
        run = self.curl(f"http://127.0.0.1:{port}/page")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE)
        self.assertTrue(self.proxy.saw(f"auth ok {TOKEN}"))
        self.assertTrue(self.proxy.saw(f"connect {TOKEN} 127.0.0.1 {port}"))
        self.assertEqual(run.stderr, b"")

    def test_ipv6_destination_goes_through_an_ipv4_proxy(self):
        self.serve("curl")
        port = self.http6.server_address[1]
        run = self.curl(f"http://[::1]:{port}/")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE)
        self.assertTrue(self.proxy.saw(f"connect {TOKEN} ::1 {port}"))

    def test_udp_datagrams_travel_through_the_association(self):
        self.serve("curl,udp-probe")
        port = self.udp.getsockname()[1]
        run = subprocess.run([os.path.join(BIN_DIR, "udp-probe"), "127.0.0.1", str(port), "3"],
                             env=self.env(), capture_output=True, text=True, timeout=30)
        # The echo's source must read as the peer itself, not as the relay.
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertTrue(self.proxy.saw(f"udp {TOKEN} 127.0.0.1 {port} 7"))
        self.assertEqual(sum(1 for l in self.proxy.lines if l.startswith("udp-associate")), 1)

    def test_launcher_preloads_the_library(self):
        self.serve("curl")
        env = self.env(preload=False)
        run = subprocess.run([os.path.join(BIN_DIR, "morvil-run"), "curl", "-sS",
                              f"http://127.0.0.1:{self.http.server_address[1]}/"],
                             env=env, capture_output=True, timeout=30)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE)
        self.assertTrue(self.proxy.saw(f"connect {TOKEN} 127.0.0.1 {self.http.server_address[1]}"))

    def test_connected_udp_socket_reads_and_writes_through_the_association(self):
        self.serve("udp-probe")
        port = self.udp.getsockname()[1]
        run = subprocess.run([os.path.join(BIN_DIR, "udp-probe"), "--connected", "127.0.0.1",
                              str(port), "2"],
                             env=self.env(), capture_output=True, text=True, timeout=30)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertTrue(self.proxy.saw(f"udp {TOKEN} 127.0.0.1 {port} 7"))

    def test_parallel_transfers_each_go_through_the_proxy(self):
        self.serve("curl")
        port = self.http.server_address[1]
        urls = [f"http://127.0.0.1:{port}/{i}" for i in range(24)]
        run = subprocess.run(["curl", "-sS", "--parallel", "--parallel-max", "12", *urls],
                             env=self.env(), capture_output=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE * len(urls))
        self.assertTrue(wait_until(lambda: len(self.connects()) == len(urls)), self.connects())

    def test_program_started_by_an_unlisted_shell_asks_for_itself(self):
        self.serve("curl")
        port = self.http.server_address[1]
        run = subprocess.run(["sh", "-c", f"curl -sS http://127.0.0.1:{port}/ && echo done"],
                             env=self.env(), capture_output=True, timeout=30)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE + b"done\n")
        self.assertTrue(self.proxy.saw(f"connect {TOKEN} 127.0.0.1 {port}"))

    def test_proxy_that_is_not_listening_fails_the_connect_at_once(self):
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        port = closed.getsockname()[1]
        closed.close()

        class Gone:
            pass
        gone = Gone()
        gone.port = port
        self.serve("curl", proxy=gone)
        started = time.monotonic()
        run = self.curl(f"http://127.0.0.1:{self.http.server_address[1]}/")
        self.assertEqual(run.returncode, 7, run.stderr)
        self.assertLess(time.monotonic() - started, 10)
        self.assertIn(b"morvil: proxy server 127.0.0.1 port %d" % port, run.stderr)

    def test_threads_connecting_at_once_all_go_through_the_proxy(self):
        self.serve(PYTHON_NAME)
        port = self.http.server_address[1]
        run = self.python(f"""
import socket, threading
ok = []
def worker():
    for _ in range(10):
        s = socket.create_connection(("127.0.0.1", {port}))
        s.sendall(b"GET / HTTP/1.0\\r\\n\\r\\n")
        data = b""
        while chunk := s.recv(4096):
            data += chunk
        ok.append(data.endswith({PAGE!r}) and s.getpeername() == ("127.0.0.1", {port}))
        s.close()
threads = [threading.Thread(target=worker) for _ in range(8)]
for t in threads: t.start()
for t in threads: t.join()
print(len(ok), all(ok))
""")
        self.assertEqual(run.stdout, "80 True\n", run.stderr)
        self.assertTrue(wait_until(lambda: len(self.connects()) == 80))

    def test_unlisted_program_connects_directly(self):
        self.serve("curl")
        # The same program under another file name is not listed.
        fetcher = os.path.join(self.scratch, "fetcher")
        shutil.copy(shutil.which("curl"), fetcher)
        run = self.curl(f"http://127.0.0.1:{self.http.server_address[1]}/", program=fetcher)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE)
        time.sleep(0.2)
        self.assertEqual(self.proxy.lines, [])

    def test_wrong_token_fails_like_a_refused_connection_and_is_reported_once(self):
        self.serve("curl", token="wrong")
        run = self.curl(f"http://127.0.0.1:{self.http.server_address[1]}/")
        self.assertEqual(run.returncode, 7, run.stderr)  # curl: could not connect
        self.assertTrue(self.proxy.saw("auth refused wrong"))
        self.assertEqual(run.stderr.count(b"morvil: proxy server 127.0.0.1"), 1, run.stderr)

    def test_program_keeps_working_when_morvil_is_not_running(self):
        run = self.curl(f"http://127.0.0.1:{self.http.server_address[1]}/")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout, PAGE)
        self.assertEqual(run.stderr, b"")
        self.assertEqual(self.proxy.lines, [])

    def test_blocking_nonblocking_and_epoll_sockets_see_the_real_peer(self):
        self.serve(PYTHON_NAME)
        port = self.http.server_address[1]
        run = self.python(f"""
import os, select, socket
dest = ("127.0.0.1", {port})
request = b"GET / HTTP/1.0\\r\\n\\r\\n"

def fetch(s):
    s.setblocking(True)
    s.sendall(request)
    data = b""
    while chunk := s.recv(4096):
        data += chunk
    return data.endswith({PAGE!r})

# Blocking connect.
s = socket.create_connection(dest)
print("blocking", s.getpeername() == dest, fetch(s))

# Non-blocking connect, waited for with select.
s = socket.socket(); s.setblocking(False)
print("inprogress", s.connect_ex(dest) == 115)
_, w, _ = select.select([], [s], [], 10)
print("select", w == [s], s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR), s.getpeername() == dest, fetch(s))

# Non-blocking connect, registered with epoll while the handshake runs.
s = socket.socket(); s.setblocking(False)
s.connect_ex(dest)
ep = select.epoll(); ep.register(s.fileno(), select.EPOLLOUT | select.EPOLLET)
events = ep.poll(10)
print("epoll", events == [(s.fileno(), select.EPOLLOUT)], s.getpeername() == dest, fetch(s))

# A forked child goes through the proxy too.
pid = os.fork()
if pid == 0:
    os._exit(0 if fetch(socket.create_connection(dest)) else 1)
print("fork", os.waitpid(pid, 0)[1] == 0)
""")
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(run.stdout.split("\n"), [
            "blocking True True", "inprogress True", "select True 0 True True",
            "epoll True True True", "fork True", ""])
        self.assertEqual(len(self.connects()), 4)

    def test_nonblocking_connect_to_a_refusing_proxy_reports_refused(self):
        self.serve(PYTHON_NAME, token="wrong")
        run = self.python(f"""
import select, socket
s = socket.socket(); s.setblocking(False)
s.connect_ex(("127.0.0.1", {self.http.server_address[1]}))
p = select.poll(); p.register(s, select.POLLOUT)
events = p.poll(10000)
print(bool(events), s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR))
""")
        self.assertEqual(run.stdout, "True 111\n", run.stderr)  # ECONNREFUSED
        self.assertIn("morvil: proxy server", run.stderr)

    def fetch_twice(self):
        port = self.http.server_address[1]
        return self.python(f"""
import urllib.request
for _ in range(2):
    print(urllib.request.urlopen("http://127.0.0.1:{port}/", timeout=20).read() == {PAGE!r})
""")

    def test_without_a_token_the_proxy_is_used_without_authentication(self):
        proxy = Socks5Proxy(TOKEN, auth="none")
        self.addCleanup(proxy.close)
        self.serve(PYTHON_NAME, proxy=proxy, token="")
        run = self.fetch_twice()
        self.assertEqual(run.stdout, "True\nTrue\n", run.stderr)
        connect = f"connect - 127.0.0.1 {self.http.server_address[1]}"
        self.assertTrue(wait_until(lambda: proxy.lines.count(connect) == 2), proxy.lines)

    def test_with_a_token_a_proxy_without_authentication_is_used_too(self):
        proxy = Socks5Proxy(TOKEN, auth="none")
        self.addCleanup(proxy.close)
        self.serve(PYTHON_NAME, proxy=proxy)
        # The second connection sends all its steps at once, for the method the proxy chose.
        run = self.fetch_twice()
        self.assertEqual(run.stdout, "True\nTrue\n", run.stderr)
        connect = f"connect - 127.0.0.1 {self.http.server_address[1]}"
        self.assertTrue(wait_until(lambda: proxy.lines.count(connect) == 2), proxy.lines)

    def test_proxy_that_accepts_no_offered_method_fails_like_a_refused_connection(self):
        refusing = Socks5Proxy(TOKEN, auth="refuse")
        self.addCleanup(refusing.close)
        # Refusing every method; and a proxy that wants a password when there is no token.
        for proxy, token in ((refusing, TOKEN), (self.proxy, "")):
            with self.subTest(token=token):
                self.stop_serving()
                self.serve("curl", proxy=proxy, token=token)
                run = self.curl(f"http://127.0.0.1:{self.http.server_address[1]}/")
                self.assertEqual(run.returncode, 7, run.stderr)  # curl: could not connect
                self.assertTrue(proxy.saw("methods refused"))
                self.assertEqual(run.stderr.count(b"morvil: proxy server 127.0.0.1"), 1, run.stderr)

    def test_running_program_follows_start_a_new_proxy_and_stop(self):
        probe = subprocess.Popen(
            [sys.executable, "-c", ROUTE_PROBE.replace("PORT", str(self.ports.getsockname()[1]))],
            env=self.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(probe.stdout.close)
        self.addCleanup(probe.wait)
        self.addCleanup(probe.stdin.close)

        def route():
            probe.stdin.write("\n")
            probe.stdin.flush()
            return probe.stdout.readline().strip()

        # Started while morvil does not run: direct.
        self.assertEqual(route(), "direct")
        # Start: its next connections go through the proxy.
        self.serve(PYTHON_NAME)
        self.assertTrue(wait_until(lambda: route() == "proxied", timeout=5))
        self.assertTrue(self.proxy.saw(f"connect {TOKEN} 127.0.0.1 {self.ports.getsockname()[1]}"))
        # Another proxy server: the next connections take it.
        other = Socks5Proxy(TOKEN, auth="none")
        self.addCleanup(other.close)
        self.stop_serving()
        self.serve(PYTHON_NAME, proxy=other, token="")
        self.assertTrue(wait_until(
            lambda: route() == "proxied" and any(l.startswith("connect -") for l in other.lines),
            timeout=5))
        # Stop (the program is no longer listed): direct again.
        self.stop_serving()
        self.serve("curl", proxy=other, token="")
        self.assertTrue(wait_until(lambda: route() == "direct", timeout=5))

    @unittest.skipUnless(shutil.which("wine") and shutil.which("x86_64-w64-mingw32-gcc"),
                         "Wine and the mingw-w64 compiler are needed")
    def test_windows_program_under_wine_is_asked_about_by_its_own_name(self):
        source = os.path.join(self.scratch, "game.c")
        with open(source, "w") as f:
            f.write(WINDOWS_UDP_CLIENT)
        prefix = os.path.join(self.scratch, "prefix")
        drive = os.path.join(prefix, "drive_c")
        os.makedirs(drive)
        subprocess.run(["x86_64-w64-mingw32-gcc", "-o", os.path.join(drive, "game.exe"), source,
                        "-lws2_32"], check=True)
        env = dict(self.env(), WINEPREFIX=prefix, WINEDEBUG="-all", HOME=self.scratch)
        self.addCleanup(self.end_wine, prefix, env)
        self.serve("game.exe")
        run = subprocess.run(["wine", "game.exe", str(self.udp.getsockname()[1])], cwd=drive,
                             env=env, capture_output=True, text=True, timeout=240)
        self.assertEqual(run.stdout.strip(), "answer ping", run.stderr)
        self.assertTrue(self.proxy.saw(f"udp {TOKEN} 127.0.0.1 {self.udp.getsockname()[1]} 4"),
                        self.proxy.lines)

    def end_wine(self, prefix, env):
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        # The prefix's server directory, which Wine keeps under /tmp.
        st = os.stat(prefix)
        shutil.rmtree(f"/tmp/.wine-{os.getuid()}/server-{st.st_dev:x}-{st.st_ino:x}", True)
        try:
            os.rmdir(f"/tmp/.wine-{os.getuid()}")
        except OSError:
            pass


# A Windows program that sends one datagram to 127.0.0.1:PORT and prints the answer.
WINDOWS_UDP_CLIENT = r"""
#include <winsock2.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char** argv) {
  WSADATA wsa;
  if (argc != 2 || WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 2;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  struct sockaddr_in to = {0};
  to.sin_family = AF_INET;
  to.sin_port = htons((u_short)atoi(argv[1]));
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  DWORD timeout = 20000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char*)&timeout, sizeof timeout);
  if (sendto(s, "ping", 4, 0, (struct sockaddr*)&to, sizeof to) != 4) return 1;
  char buffer[64];
  int n = recv(s, buffer, sizeof buffer - 1, 0);
  if (n <= 0) return 1;
  buffer[n] = 0;
  printf("answer %s\n", buffer);
  return 0;
}
"""


if __name__ == "__main__":
    unittest.main()
