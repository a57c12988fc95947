"""Kernel mode: the system's backend service, asked over its pipe by the user as the page asks it,
has the installer start the component, which catches the traffic of the user's listed programs
in the kernel, whatever they are built with, and routes it through the SOCKS5 test server.

The module runs itself inside a private network and mount namespace with cgroup2 mounted on
/sys/fs/cgroup and loopback up, so no rule, route or packet reaches the machine's own network.
The test peers live in a second network namespace behind a veth pair, as the internet lies
behind a link: what the rules send direct really leaves, and a peer that gets a packet of a
connection it never saw resets it. The proxy stays on loopback and reaches the peers from an
address of its own, so the peers tell what came through it from what came direct. The programs
run as a user id of their own (no account needed), so that the component never looks at anyone
else's processes; its acceleration pipe is served by tools/acc-server running as that user.
"""

import ctypes
import faulthandler
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import unittest

from acc_server import AccServer
from harness import BIN_DIR, wait_until
from service_pipe import ask_command, read_answers
from socks5_proxy import Socks5Proxy

NAMESPACE_FLAG = "MORVIL_KERNEL_MODE_NAMESPACE"
PEER4, PEER6 = "192.0.2.10", "2001:db8::10"
# The programs' side of the link, and the address the proxy reaches the peers from.
HOST4, HOST6 = "192.0.2.1", "2001:db8::1"
PROXY4, PROXY6 = "192.0.2.2", "2001:db8::2"
TOKEN = "k3rnel-token"
PROBES_DIR = os.path.join(os.path.dirname(__file__), "..", "kernel_mode", "probes")
SERVICE = os.path.join(BIN_DIR, "morvil-backend-service")
WINE = "/usr/lib/wine/wine64"
APP_DIR = os.path.realpath(BIN_DIR)
INSTALL = (f'open,{APP_DIR}/pellix.exe, -i -a -n "sorvan_lsp" -d32 '
           f'"{APP_DIR}/sorvan_lsp.dll"')
REMOVE = f'open,{APP_DIR}/pellix.exe, -r -n "sorvan_lsp"'

def _can_run():
    return (os.geteuid() == 0 and shutil.which("unshare") and shutil.which("nft")
            and shutil.which("setpriv"))


if _can_run() and os.environ.get(NAMESPACE_FLAG) != "1" and __name__ != "__main__":
    # Everything below runs in a namespace of its own; the module starts again inside it.
    setup = 'mount -t cgroup2 none /sys/fs/cgroup && ip link set lo up && exec "$@"'
    os.environ[NAMESPACE_FLAG] = "1"
    sys.stdout.flush()
    os.execvp("unshare", ["unshare", "-n", "-m", "--propagation", "private", "sh", "-c", setup,
                          "sh", sys.executable, "-m", "unittest", *sys.argv[1:]])


def _snapshot(uid):
    """What the component may change on the machine and must leave as it found it."""
    run = lambda *cmd: subprocess.run(cmd, capture_output=True, text=True).stdout
    groups = []
    for root, dirs, _ in os.walk("/sys/fs/cgroup"):
        groups += [os.path.join(root, d) for d in dirs if f"u{uid}" in os.path.join(root, d)]
    return {"nft": run("nft", "list", "ruleset"), "rule": run("ip", "rule"),
            "rule6": run("ip", "-6", "rule"), "cgroups": sorted(groups)}


CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)


def _on_thread(function):
    """function() on a thread of its own (a thread's network namespace is its own); its result."""
    outcome = {}

    def run():
        try:
            outcome["value"] = function()
        except BaseException as error:  # handed to the caller
            outcome["error"] = error
    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    if "error" in outcome:
        raise outcome["error"]
    return outcome["value"]


class _PeerNetwork:
    """The peers' network namespace, joined to the test's by a veth pair: PEER4 and PEER6 on
    its side, HOST4, HOST6 and the proxy's addresses on ours, and the echo peers `peer` and
    `peer6` in it. Held by a descriptor only, it ends with the test process, and the link with
    it. One serves the whole run: a link made again could meet the last one not yet gone, and
    a peer's socket closed under its serving thread could have that thread serve the next
    socket given the same descriptor."""

    def __init__(self):
        self.fd = _on_thread(self._make)
        ip = lambda *args: subprocess.run(["ip", *args], check=True)
        ip("addr", "add", f"{HOST4}/24", "dev", "morvil0")
        ip("addr", "add", f"{PROXY4}/24", "dev", "morvil0")  # secondary: programs never use it
        ip("-6", "addr", "add", f"{HOST6}/64", "dev", "morvil0", "nodad")
        # Deprecated, so that programs' connections never leave from it.
        ip("-6", "addr", "add", f"{PROXY6}/64", "dev", "morvil0", "nodad", "preferred_lft", "0")
        ip("link", "set", "morvil0", "up")
        # Addresses become usable once the link is up on both sides.
        tentative = lambda: subprocess.run(["ip", "-6", "-o", "addr", "show", "tentative"],
                                           capture_output=True, text=True, check=True).stdout
        if not wait_until(lambda: not tentative() and not self.run(tentative), 10):
            raise RuntimeError("the link to the peers did not come up")
        self.peer = self.run(lambda: _Echo(PEER4))
        self.peer6 = self.run(lambda: _Echo(PEER6))

    @staticmethod
    def _make():
        if _libc.unshare(CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "unshare of the peers' network namespace")
        fd = os.open("/proc/thread-self/ns/net", os.O_RDONLY | os.O_CLOEXEC)
        # Commands started from this thread run in its namespace.
        ip = lambda *args: subprocess.run(["ip", *args], check=True)
        ip("link", "set", "lo", "up")
        ip("link", "add", "peer0", "type", "veth", "peer", "name", "morvil0", "netns",
           str(os.getpid()))
        ip("addr", "add", f"{PEER4}/24", "dev", "peer0")
        ip("-6", "addr", "add", f"{PEER6}/64", "dev", "peer0", "nodad")
        ip("link", "set", "peer0", "up")
        return fd

    def run(self, function):
        """function() in the peers' namespace: the sockets it makes live there."""
        def entered():
            if _libc.setns(self.fd, CLONE_NEWNET) != 0:
                raise OSError(ctypes.get_errno(), "setns into the peers' network namespace")
            return function()
        return _on_thread(entered)


class _Echo:
    """TCP and UDP echo peers on one address; records the source address of each connection
    and datagram that reached them, in `seen`, before answering it."""

    def __init__(self, host):
        family = socket.AF_INET6 if ":" in host else socket.AF_INET
        self.tcp = socket.socket(family, socket.SOCK_STREAM)
        self.tcp.bind((host, 0))
        self.tcp.listen(64)
        self.udp = socket.socket(family, socket.SOCK_DGRAM)
        self.udp.bind((host, self.tcp.getsockname()[1]))
        self.port = self.tcp.getsockname()[1]
        self.seen = []  # ("tcp" or "udp", source address)
        threading.Thread(target=self._serve_tcp, daemon=True).start()
        threading.Thread(target=self._serve_udp, daemon=True).start()

    def _serve_tcp(self):
        while True:
            try:
                conn, source = self.tcp.accept()
            except OSError:
                return
            self.seen.append(("tcp", source[0]))
            threading.Thread(target=self._echo, args=(conn,), daemon=True).start()

    @staticmethod
    def _echo(conn):
        with conn:
            try:
                while data := conn.recv(64):
                    conn.sendall(data)
            except OSError:
                pass

    def _serve_udp(self):
        while True:
            try:
                data, peer = self.udp.recvfrom(64)
            except OSError:
                return
            self.seen.append(("udp", peer[0]))
            self.udp.sendto(data, peer)



# Run as the user in place of morvil's acceleration pipe: answers each request with the next of
# a series of replies no sound server sends, then starts the series again.
HOSTILE_PIPE = r"""
import os, socket, sys
path = sys.argv[1]
os.makedirs(os.path.dirname(path), mode=0o700, exist_ok=True)
if os.path.exists(path):
    os.unlink(path)  # the socket of the server that was stopped
server = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
server.bind(path)
server.listen(8)
print("ready", flush=True)
u = lambda text: text.encode("utf-16-le", "surrogatepass")
replies = [b"", b"\x31", u("1"), u("1,127.0.0.1"), u("1,127.0.0.1,99999,tok"),
           u("1,127.0.0.1,0,tok"), u("1,127.0.0.1,-5,tok"), u("1,\ud800,1080,tok"),
           u("1," + "h" * 300 + ",1080,tok"),
           u("1,127.0.0.1,1080," + "t" * 300), u("1" * 100000), None]
n = 0
while True:
    conn, _ = server.accept()
    try:
        while conn.recv(65536):
            reply = replies[n % len(replies)]
            n += 1
            if reply is not None:
                conn.send(reply)
    except OSError:
        pass
    conn.close()
"""


# Run as the user: holds the acceleration pipe argv[1] with a connection that sends nothing, then
# with one that sends half a request, each until the server ends it; says "held" once connected
# and "ended" when the server hung up.
HOLDER = r"""
import socket, sys, time
for first in (None, "RequestAc".encode("utf-16-le")):
    give_up = time.monotonic() + 10
    while True:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        try:
            s.connect(sys.argv[1])
            break
        except ConnectionRefusedError:  # the server is busy with another client
            s.close()
            if time.monotonic() > give_up:
                raise
            time.sleep(0.001)
    print("held", flush=True)
    if first:
        s.send(first)
    s.settimeout(10)
    if s.recv(4096) == b"":
        print("ended", flush=True)
    s.close()
"""


IN_NAMESPACE = _can_run() and os.environ.get(NAMESPACE_FLAG) == "1"
if IN_NAMESPACE:
    # A run that hangs shows where, before the test runner's time limit ends it.
    faulthandler.dump_traceback_later(280, exit=True)
_peers = None


def _peer_network():
    global _peers
    if _peers is None:
        _peers = _PeerNetwork()
    return _peers


class KernelModeBase(unittest.TestCase):
    """A user, peers, a proxy, the user's acceleration pipe and the component, per test."""

    PROCESSES = "probe,probe-go"
    # The proxy token the page stores, and the user the test proxy names in its log for it: an
    # empty token offers no authentication, which the proxy logs as "-".
    TOKEN = TOKEN
    PROXY_USER = TOKEN

    @classmethod
    def setUpClass(cls):
        cls.uid = 200000 + os.getpid() % 100000
        cls.scratch = tempfile.mkdtemp(prefix="morvil-kernel-")
        os.chmod(cls.scratch, 0o755)
        cls.home = os.path.join(cls.scratch, "home")
        cls.runtime = os.path.join(cls.scratch, "runtime")
        cls.system = os.path.join(cls.scratch, "system")
        for d in (cls.home, cls.runtime):
            os.mkdir(d, 0o700)
            os.chown(d, cls.uid, cls.uid)
        # The system service serves the pipe that every user may open, and runs the installer
        # beside it as root for its callers.
        cls.service = subprocess.Popen([SERVICE, "--system"],
                                       env=dict(os.environ, MORVIL_SYSTEM_DIR=cls.system),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        cls.service_pipe = os.path.join(cls.system, "pipe", "zrnetworkgamebackendservice")
        if not wait_until(lambda: os.path.exists(cls.service_pipe)):
            raise RuntimeError("the backend service did not come up")
        cls.peer_network = _peer_network()
        cls.peer, cls.peer6 = cls.peer_network.peer, cls.peer_network.peer6
        cls.bin = os.path.join(cls.scratch, "bin")
        os.mkdir(cls.bin)
        source = os.path.join(PROBES_DIR, "probe.c")
        subprocess.run(["gcc", "-static", "-O1", "-o", os.path.join(cls.bin, "probe"), source],
                       check=True)
        os.chmod(cls.bin, 0o755)

    @classmethod
    def tearDownClass(cls):
        cls.service.terminate()
        cls.service.wait()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.before = _snapshot(self.uid)
        self.proxy = self.new_proxy()
        self.addCleanup(self.proxy.close)
        self.server = None
        self.running = []
        self.serve(self.PROCESSES)
        self.start_component()

    def tearDown(self):
        for proc in self.running:
            proc.kill()
            proc.wait()
            proc.stdin.close()
            proc.stdout.close()
        self.stop_component()
        self.stop_serving()
        self.assertEqual(_snapshot(self.uid), self.before)

    # The user's side -------------------------------------------------------------------------

    def user_env(self, **extra):
        return {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime,
                "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                "MORVIL_REGISTRY_DIR": os.path.join(self.home, "registry"), "LANG": "C",
                **extra}

    def as_user(self, command):
        return ["setpriv", f"--reuid={self.uid}", f"--regid={self.uid}", "--clear-groups",
                *command]

    def new_proxy(self, bind="127.0.0.1"):
        sources = (PROXY4, PROXY6)
        if self.TOKEN:
            return Socks5Proxy(self.TOKEN, bind=bind, sources=sources)
        return Socks5Proxy("", auth="none", bind=bind, sources=sources)

    def serve(self, processes, port=None, server="127.0.0.1"):
        """(Re)starts the user's acceleration pipe with these settings."""
        self.stop_serving()
        self.server = AccServer(self.user_env(), processes, server, port or self.proxy.port,
                                self.TOKEN, wrap=self.as_user)
        self.assertTrue(self.server.ready)

    def stop_serving(self):
        if self.server:
            self.server.close()
            self.server = None

    def start(self, program, *args, env=None, cwd=None):
        """Starts a probe as the user; returns the process once it is ready."""
        proc = subprocess.Popen(self.as_user([program, *args]), env=env or self.user_env(),
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                stderr=subprocess.DEVNULL, cwd=cwd or self.scratch)
        self.running.append(proc)
        self.assertTrue(wait_until(lambda: proc.stdout.readline().strip() == "ready", 120))
        return proc

    @staticmethod
    def go(proc, command="go"):
        """One round of the probe: its tcp, udp and cudp lines (or what `command` prints)."""
        proc.stdin.write(command + "\n")
        proc.stdin.flush()
        lines = []
        while True:
            line = proc.stdout.readline().strip()
            if line in ("done", ""):
                return lines
            lines.append(line)

    # The component's side --------------------------------------------------------------------

    def ask_service(self, *messages):
        """The service's answers to `messages`, sent by the user as the page sends them."""
        run = subprocess.run(
            self.as_user(ask_command(sys.executable, self.service_pipe, messages, timeout=30)),
            env=self.user_env(), capture_output=True, text=True, timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        return read_answers(run.stdout)[0]

    def start_component(self):
        self.assertEqual(self.ask_service(INSTALL), ["0"])

    def stop_component(self):
        self.assertEqual(self.ask_service(REMOVE), ["0"])

    def status(self):
        try:
            with open(os.path.join(self.system, "users", str(self.uid), "status")) as f:
                return f.read()
        except OSError:
            return ""

    def in_group(self, pid):
        try:
            with open(f"/proc/{pid}/cgroup") as f:
                return f"/morvil/u{self.uid}/g" in f.read()
        except OSError:
            return False

    def wait_routed(self, proc):
        self.assertTrue(wait_until(lambda: self.in_group(proc.pid), 10), self.status())

    def wait_direct(self, proc):
        self.assertTrue(wait_until(lambda: not self.in_group(proc.pid), 10), self.status())

    def connects(self):
        return len([l for l in self.proxy.lines if l.startswith("connect")])

    def assert_through_proxy(self, proc, ipv6=False, proxy=None):
        """A round of the probe reaches the peer through the proxy, and only through it."""
        echo, peer = (self.peer6, PEER6) if ipv6 else (self.peer, PEER4)
        port = echo.port
        proxy = proxy or self.proxy
        before = len(echo.seen)
        lines = self.go(proc)
        # The program sees its real peer; the proxy logged each with the token.
        self.assertEqual(lines, [f"tcp {peer} {port} ping", f"udp {peer} {port} udp",
                                 f"cudp {peer} {port} cudp"], proxy.lines)
        user = self.PROXY_USER
        self.assertTrue(proxy.saw(f"connect {user} {peer} {port}"), proxy.lines)
        self.assertTrue(proxy.saw(f"udp {user} {peer} {port} 3"), proxy.lines)
        self.assertTrue(proxy.saw(f"udp {user} {peer} {port} 4"), proxy.lines)
        # The peer answered each before the program saw its answer: all came from the proxy.
        source = PROXY6 if ipv6 else PROXY4
        self.assertEqual(set(echo.seen[before:]), {("tcp", source), ("udp", source)})

    def assert_direct(self, proc, ipv6=False):
        """A round of the probe reaches the peer straight from the program; the proxy sees none
        of it."""
        echo, peer, host = (self.peer6, PEER6, HOST6) if ipv6 else (self.peer, PEER4, HOST4)
        before, connects = len(echo.seen), self.connects()
        port = echo.port
        lines = self.go(proc)
        self.assertEqual(lines, [f"tcp {peer} {port} ping", f"udp {peer} {port} udp",
                                 f"cudp {peer} {port} cudp"], self.proxy.lines)
        self.assertEqual(set(echo.seen[before:]), {("tcp", host), ("udp", host)})
        self.assertEqual(self.connects(), connects)



@unittest.skipUnless(IN_NAMESPACE, "needs root, unshare, nft and setpriv")
class KernelModeTest(KernelModeBase):

    def test_static_program_is_routed_and_counted(self):
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.wait_routed(probe)
        self.assert_through_proxy(probe)
        # The page learns of the program and of its bytes both ways from the status file.
        line = wait_until(lambda: next(
            (l for l in self.status().splitlines()
             if l.startswith(f"program {probe.pid} ") and "0" not in l.split()[2:4]), None))
        self.assertTrue(line, self.status())
        self.assertTrue(line.endswith(os.path.join(self.bin, "probe")), line)
        self.assertIn(f"proxy 127.0.0.1 {self.proxy.port}", self.status())

    def test_connections_another_side_opens_are_answered_directly(self):
        host = self.start(os.path.join(self.bin, "probe"), "serve")
        self.wait_routed(host)
        host.stdin.write("listen\n")
        host.stdin.flush()
        port = int(host.stdout.readline())
        # A peer reaches the listed program from an address that would be caught; its answers
        # come straight back, not through the proxy (which would answer from elsewhere, or
        # leave the peer's own connection unanswered).
        def tcp():
            with socket.create_connection((HOST4, port), timeout=10) as connection:
                connection.sendall(b"hello")
                return connection.recv(64)

        def udp():
            with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as peer:
                peer.settimeout(10)
                peer.bind((PEER4, 0))
                peer.sendto(b"hello", (HOST4, port))
                return peer.recvfrom(64)
        self.assertEqual(self.peer_network.run(tcp), b"hosted")
        self.assertEqual(self.peer_network.run(udp), (b"hosted", (HOST4, port)))
        self.assertFalse(any(f" {port}" in line for line in self.proxy.lines), self.proxy.lines)

    def test_ipv6_peer_is_routed_through_an_ipv6_proxy(self):
        # The test server relays datagrams in its own family only.
        proxy6 = self.new_proxy(bind="::1")
        self.addCleanup(proxy6.close)
        self.serve("probe", port=proxy6.port, server="::1")
        probe = self.start(os.path.join(self.bin, "probe"), PEER6, str(self.peer6.port),
                           str(self.peer6.port))
        self.wait_routed(probe)
        self.assert_through_proxy(probe, ipv6=True, proxy=proxy6)

    @unittest.skipUnless(shutil.which("go"), "needs the Go compiler")
    def test_go_program_is_routed(self):
        program = os.path.join(self.bin, "probe-go")
        if not os.path.exists(program):
            cache = os.path.join(self.scratch, "go")
            subprocess.run(["go", "build", "-o", program, os.path.join(PROBES_DIR, "probe.go")],
                           env=dict(os.environ, GOCACHE=cache, GOPATH=cache, GOFLAGS="-mod=mod",
                                    CGO_ENABLED="0"), check=True, cwd=self.scratch)
        probe = self.start(program, PEER4, str(self.peer.port), str(self.peer.port))
        self.wait_routed(probe)
        self.assert_through_proxy(probe)

    def test_unlisted_program_goes_direct(self):
        other = os.path.join(self.bin, "other")
        shutil.copy(os.path.join(self.bin, "probe"), other)
        probe = self.start(other, PEER4, str(self.peer.port), str(self.peer.port))
        self.assert_direct(probe)
        probe6 = self.start(other, PEER6, str(self.peer6.port), str(self.peer6.port))
        self.assert_direct(probe6, ipv6=True)
        self.assertFalse(self.in_group(probe.pid) or self.in_group(probe6.pid))
        self.assertEqual(self.connects(), 0)

    def test_program_started_before_start_is_routed_and_stop_sends_it_direct(self):
        self.stop_component()
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.start_component()
        self.wait_routed(probe)
        self.assert_through_proxy(probe)
        # A connection the program keeps open across Stop.
        before = len(self.peer.seen)
        self.assertEqual(self.go(probe, "open"), [f"open {PEER4} {self.peer.port} ping"])
        self.assertEqual(self.peer.seen[before:], [("tcp", PROXY4)])
        # Stop in the page empties the list: the running program's new connections go direct,
        # while the open one stays with the relay (sent direct, the peer would reset it).
        self.serve("")
        self.wait_direct(probe)
        before = len(self.peer.seen)
        self.assertEqual(self.go(probe, "send"), ["send pong"])
        self.assertEqual(self.peer.seen[before:], [])
        self.assert_direct(probe)
        self.assertEqual(self.go(probe, "send"), ["send pong"])

    def test_new_proxy_port_reaches_a_running_program(self):
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.wait_routed(probe)
        second = self.new_proxy()
        self.addCleanup(second.close)
        self.serve("probe", port=second.port)
        self.assertTrue(wait_until(lambda: f"proxy 127.0.0.1 {second.port}" in self.status()))
        self.wait_routed(probe)
        self.assert_through_proxy(probe, proxy=second)

    def test_proxy_down_refuses_and_nothing_goes_direct(self):
        closed = socket.socket()
        closed.bind(("127.0.0.1", 0))
        port = closed.getsockname()[1]
        closed.close()
        self.serve("probe", port=port)
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.wait_routed(probe)
        before = len(self.peer.seen)
        lines = self.go(probe)
        # TCP is refused; a datagram's send fails at once. Nothing reached the peer, which
        # would have answered anything sent direct.
        self.assertEqual(lines[0], "tcp refused")
        self.assertRegex(lines[1], "^udp (refused|error)")
        self.assertRegex(lines[2], "^cudp (refused|error)")
        self.assertEqual(self.peer.seen[before:], [])

    def test_launcher_starts_a_program_inside_the_users_group(self):
        probe = self.start(os.path.join(BIN_DIR, "morvil-run"), os.path.join(self.bin, "probe"),
                           PEER4, str(self.peer.port), str(self.peer.port),
                           env=self.user_env(MORVIL_SYSTEM_DIR=self.system))
        with open(f"/proc/{probe.pid}/cgroup") as f:
            self.assertIn(f"0::/morvil/u{self.uid}\n", f.read())
        self.assertTrue(wait_until(lambda: f"program {probe.pid} " in self.status()))
        self.assert_through_proxy(probe)
        # Stop: the launcher's programs are caught no more either.
        self.serve("")
        self.assertTrue(wait_until(lambda: f"program {probe.pid} " not in self.status()))
        self.assert_direct(probe)
        self.assertEqual(self.connects(), 1)

    def test_hostile_acceleration_pipe_changes_nothing_and_the_component_goes_on(self):
        self.stop_serving()
        pipe = os.path.join(self.runtime, "morvil", "pipe", "brelanpipe")
        hostile = subprocess.Popen(self.as_user([sys.executable, "-c", HOSTILE_PIPE, pipe]),
                                   env=self.user_env(), stdout=subprocess.PIPE, text=True)
        self.addCleanup(hostile.wait)
        self.addCleanup(hostile.kill)
        self.assertEqual(hostile.stdout.readline().strip(), "ready")
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        # Several rounds of questions, each answered with something unusable.
        updated = lambda: int(next((l.split()[1] for l in self.status().splitlines()
                                    if l.startswith("updated ")), "0"))
        first = updated()
        self.assertTrue(wait_until(lambda: updated() >= first + 4, 20), self.status())
        self.assertFalse(self.in_group(probe.pid))
        self.assertNotIn("proxy ", self.status())
        self.assertEqual(len(self.status().splitlines()), 4, self.status())
        hostile.kill()
        os.unlink(pipe)
        # The component still serves: a sound pipe again, and the program is routed.
        self.serve(self.PROCESSES)
        self.wait_routed(probe)
        self.assert_through_proxy(probe)

    def test_clients_holding_the_acceleration_pipe_do_not_stop_routing(self):
        pipe = os.path.join(self.runtime, "morvil", "pipe", "brelanpipe")
        holder = subprocess.Popen(self.as_user([sys.executable, "-c", HOLDER, pipe]),
                                  env=self.user_env(), stdout=subprocess.PIPE, text=True)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline().strip(), "held")
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.wait_routed(probe)
        self.assert_through_proxy(probe)
        # The server ended each of the holder's connections.
        self.assertEqual(holder.stdout.read().split(), ["ended", "held", "ended"])

    def test_morvil_gone_leaves_programs_alone(self):
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.wait_routed(probe)
        self.stop_serving()
        self.wait_direct(probe)
        self.assertTrue(wait_until(lambda: "proxy " not in self.status()))
        self.assert_direct(probe)
        self.assertEqual(self.connects(), 0)


@unittest.skipUnless(IN_NAMESPACE, "needs root, unshare, nft and setpriv")
class EmptyTokenTest(KernelModeBase):
    """A page that stores no token: the proxy is asked without authentication."""

    PROCESSES = "probe"
    TOKEN = ""
    PROXY_USER = "-"

    def test_listed_program_goes_through_a_proxy_without_authentication(self):
        probe = self.start(os.path.join(self.bin, "probe"), PEER4, str(self.peer.port),
                           str(self.peer.port))
        self.wait_routed(probe)
        self.assert_through_proxy(probe)
        self.assertFalse([l for l in self.proxy.lines if l.startswith(("auth", "methods"))],
                         self.proxy.lines)
        self.assertIn(f"proxy 127.0.0.1 {self.proxy.port}", self.status())


@unittest.skipUnless(IN_NAMESPACE and os.path.exists(WINE) and shutil.which("x86_64-w64-mingw32-gcc"),
                     "needs the namespace, wine64 and mingw-w64")
class WineProgramTest(KernelModeBase):
    """A Windows console program run by Wine, started the way a user starts a game: no launcher,
    nothing preloaded. Its TCP connects are made by the wineserver of its prefix."""

    PROCESSES = "game.exe"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.games = os.path.join(cls.scratch, "games")
        os.mkdir(cls.games)
        for name in ("game.exe", "other.exe"):
            subprocess.run(["x86_64-w64-mingw32-gcc", "-O1", "-o", os.path.join(cls.games, name),
                            os.path.join(PROBES_DIR, "probe.c"), "-lws2_32"], check=True)
        os.chmod(cls.games, 0o755)
        # One prefix set up for the whole run (the first start of Wine takes long), and a copy:
        # another prefix, with a wineserver of its own.
        cls.prefix = os.path.join(cls.home, "prefix")
        cls.wine_tmp = os.path.join(cls.scratch, "wine-tmp")
        os.mkdir(cls.wine_tmp, 0o700)
        os.chown(cls.wine_tmp, cls.uid, cls.uid)
        boot = subprocess.run(
            ["setpriv", f"--reuid={cls.uid}", f"--regid={cls.uid}", "--clear-groups", "sh", "-c",
             f"{WINE} wineboot -i && /usr/lib/wine/wineserver64 -w"],
            env=cls.wine_env(cls.prefix), capture_output=True, timeout=600)
        if boot.returncode != 0:
            raise unittest.SkipTest(f"wineboot failed: {boot.stderr[-500:]}")
        cls.other_prefix = os.path.join(cls.home, "other-prefix")
        subprocess.run(["cp", "-a", cls.prefix, cls.other_prefix], check=True)

    @classmethod
    def tearDownClass(cls):
        for prefix in (cls.prefix, cls.other_prefix):
            subprocess.run(["setpriv", f"--reuid={cls.uid}", f"--regid={cls.uid}",
                            "--clear-groups", "/usr/lib/wine/wineserver64", "-k"],
                           env=cls.wine_env(prefix), capture_output=True, timeout=60)
        super().tearDownClass()

    @classmethod
    def wine_env(cls, prefix):
        return {"PATH": "/usr/bin:/bin", "HOME": cls.home, "XDG_RUNTIME_DIR": cls.runtime,
                "WINEPREFIX": prefix, "WINEDEBUG": "-all", "LANG": "C",
                "TMPDIR": cls.wine_tmp}  # the wineservers' sockets

    def wine(self, name, prefix):
        return self.start(WINE, name, PEER4, str(self.peer.port), str(self.peer.port),
                          env=self.wine_env(prefix), cwd=self.games)

    def wineserver_in_group(self):
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                if (os.stat(f"/proc/{pid}").st_uid == self.uid
                        and os.readlink(f"/proc/{pid}/exe").endswith("/wineserver64")
                        and self.in_group(int(pid))):
                    return True
            except OSError:
                pass
        return False

    def test_listed_windows_program_is_routed_and_another_prefix_is_not(self):
        game = self.wine("game.exe", self.prefix)
        self.wait_routed(game)
        # Its prefix's wineserver, which makes its TCP connects, goes with it.
        self.assertTrue(wait_until(self.wineserver_in_group, 10), self.status())
        self.assert_through_proxy(game)
        self.assertTrue(wait_until(lambda: "game.exe" in self.status()), self.status())

        other = self.wine("other.exe", self.other_prefix)
        self.assert_direct(other)
        self.assertFalse(self.in_group(other.pid))


if __name__ == "__main__":
    unittest.main()
