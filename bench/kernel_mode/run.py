#!/usr/bin/env python3
"""Kernel-mode benchmark, as root: through one loopback SOCKS5 proxy, in one run, a program caught
by the kernel-mode component against the same program with the preload library and under
proxychains4: TCP connect latency, UDP round trip, bulk throughput (also against a client that
speaks SOCKS5 to the proxy itself, directly and through one plain forwarding hop, the least a
relay costs); then an unaccelerated program's connect with the component running against none.

    sudo bench/kernel_mode/run.py [BUILD_DIR]      (default: build)

It runs itself inside a private network and mount namespace (cgroup2 on /sys/fs/cgroup, peers on
TEST-NET addresses of loopback); the programs run as a user id of their own. The
proxy is tests/support/socks5_test_server.py, so absolute figures are the proxy's; read the
ratios within one run.
"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tcp_peers import bulk_sender, close_at_once, serve_tcp  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
CLIENT = os.path.join(BUILD, "bench", "km-bench")
PEER = "192.0.2.10"
TOKEN = "bench-token"
CONNECTS = 300
DATAGRAMS = 300
BULK_BYTES = 256 << 20
PLAIN_CONNECTS = 2000
ROUNDS = 9
FLAG = "MORVIL_KERNEL_BENCH_NAMESPACE"


def serve_udp_echo():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((PEER, 0))

    def loop():
        while True:
            data, peer = sock.recvfrom(2048)
            sock.sendto(data, peer)
    threading.Thread(target=loop, daemon=True).start()
    return sock.getsockname()[1]


class Bench:
    def __init__(self):
        self.uid = 300000 + os.getpid() % 100000
        self.scratch = tempfile.mkdtemp(prefix="morvil-kernel-bench-")
        os.chmod(self.scratch, 0o755)
        self.runtime = os.path.join(self.scratch, "runtime")
        self.home = os.path.join(self.scratch, "home")
        self.system = os.path.join(self.scratch, "system")
        for d in (self.runtime, self.home):
            os.mkdir(d, 0o700)
            os.chown(d, self.uid, self.uid)
        # One copy of the client per way of running it, named so that the list tells them apart.
        self.bin = os.path.join(self.scratch, "bin")
        os.mkdir(self.bin, 0o755)
        for name in ("km-bench", "km-bench-plain"):
            shutil.copy(CLIENT, os.path.join(self.bin, name))
        self.proxy = subprocess.Popen(
            [sys.executable, os.path.join(ROOT, "tests/support/socks5_test_server.py"),
             "--user", TOKEN, "--password", TOKEN], stdout=subprocess.PIPE, text=True)
        self.proxy_port = int(self.proxy.stdout.readline())
        threading.Thread(target=self.proxy.stdout.read, daemon=True).start()
        self.config = os.path.join(self.scratch, "proxychains.conf")
        with open(self.config, "w") as f:
            f.write(f"strict_chain\nquiet_mode\ntcp_read_time_out 15000\n"
                    f"tcp_connect_time_out 8000\n[ProxyList]\n"
                    f"socks5 127.0.0.1 {self.proxy_port} {TOKEN} {TOKEN}\n")
        os.chmod(self.config, 0o644)
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_RUNTIME_DIR": self.runtime,
                    "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "MORVIL_REGISTRY_DIR": os.path.join(self.home, "registry")}
        self.acc = subprocess.Popen(
            self.as_user([os.path.join(BIN, "acc-server"), "acc.processes=km-bench",
                          "acc.proxy_server=127.0.0.1", f"acc.proxy_port={self.proxy_port}",
                          f"acc.proxy_token={TOKEN}"]),
            env=self.env, stdout=subprocess.PIPE, text=True)
        for line in self.acc.stdout:
            if line.strip() == "ready":
                break
        threading.Thread(target=self.acc.stdout.read, daemon=True).start()
        self.closer = serve_tcp(close_at_once, PEER)
        self.bulk = serve_tcp(bulk_sender(BULK_BYTES), PEER)
        self.echo = serve_udp_echo()

    def as_user(self, command):
        return ["setpriv", f"--reuid={self.uid}", f"--regid={self.uid}", "--clear-groups",
                *command]

    def installer(self, *args):
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "MORVIL_CALLER_UID": str(self.uid),
               "MORVIL_CALLER_RUNTIME_DIR": self.runtime, "MORVIL_SYSTEM_DIR": self.system}
        subprocess.run([os.path.join(BIN, "pellix.exe"), *args], env=env, check=True)

    def component(self, on):
        if on:
            self.installer("-i", "-a", "-n", "sorvan_lsp", "-d32",
                           os.path.join(BIN, "sorvan_lsp.dll"))
        else:
            self.installer("-r", "-n", "sorvan_lsp")

    def run(self, command, env=None):
        out = subprocess.run(self.as_user(command), env=env or self.env, capture_output=True,
                             text=True, check=True).stdout
        return [float(x) for x in out.split()[1:]]

    def close(self):
        self.acc.kill()
        self.acc.wait()
        self.proxy.kill()
        self.proxy.wait()
        shutil.rmtree(self.scratch, True)


def main():
    if os.geteuid() != 0:
        sys.exit("run as root: the component and the namespace need it")
    if not os.path.exists(CLIENT):
        sys.exit(f"{CLIENT} is missing: build first (scripts/build.sh)")
    if os.environ.get(FLAG) != "1":
        os.environ[FLAG] = "1"
        setup = (f"mount -t cgroup2 none /sys/fs/cgroup && ip link set lo up && "
                 f"ip addr add {PEER}/32 dev lo && exec \"$@\"")
        os.execvp("unshare", ["unshare", "-n", "-m", "--propagation", "private", "sh", "-c",
                              setup, "sh", sys.executable, os.path.abspath(__file__), BUILD])
    bench = Bench()
    try:
        measure(bench)
    finally:
        bench.component(False)
        bench.close()


def measure(b):
    kernel = os.path.join(b.bin, "km-bench")
    plain = os.path.join(b.bin, "km-bench-plain")
    preload_env = dict(b.env, LD_PRELOAD=os.path.join(BIN, "sorvan_lsp.so"))
    chains = ["proxychains4", "-q", "-f", b.config]
    ways = {
        "kernel mode": ([kernel, "--wait-group"], b.env),
        "preload": ([kernel], preload_env),
        "proxychains4": (chains + [kernel], b.env),
    }
    results = {name: {"connect": [], "first": [], "udp": [], "bulk": []} for name in ways}
    # A client that speaks SOCKS5 to the proxy itself, directly and through one plain forwarding
    # hop: the least any relay between program and proxy costs on this machine.
    results["SOCKS5 itself"] = {"first": [], "bulk": []}
    results["itself, 1 hop"] = {"first": [], "bulk": []}
    for _ in range(ROUNDS):
        for name, (prefix, env) in ways.items():
            # The kernel-mode rounds run with the component; the others without, as they would
            # on a machine without it.
            b.component(name == "kernel mode")
            connect, first = b.run(prefix + ["connect", str(CONNECTS), PEER, str(b.closer)], env)
            results[name]["connect"].append(connect)
            results[name]["first"].append(first)
            if name != "proxychains4":  # it does not carry UDP
                results[name]["udp"].append(
                    b.run(prefix + ["udp", str(DATAGRAMS), PEER, str(b.echo)], env)[0])
            results[name]["bulk"].append(
                b.run(prefix + ["bulk", str(BULK_BYTES), PEER, str(b.bulk)], env)[0])
        for name, hop in (("SOCKS5 itself", []), ("itself, 1 hop", ["--hop"])):
            results[name]["first"].append(
                b.run([plain, *hop, "socks-connect", str(CONNECTS), str(b.proxy_port), TOKEN,
                       PEER, str(b.closer)])[0])
            results[name]["bulk"].append(
                b.run([plain, *hop, "socks-bulk", str(BULK_BYTES), str(b.proxy_port), TOKEN,
                       PEER, str(b.bulk)])[0])

    med = lambda name, key: statistics.median(results[name][key]) if results[name].get(key) else None
    print(f"Through one loopback SOCKS5 proxy (median of {ROUNDS} rounds):")
    print(f"{'client':<15}{'connect() us':>14}{'to close us':>13}{'UDP rtt us':>12}{'bulk MB/s':>11}")
    for name in results:
        cells = [med(name, k) for k in ("connect", "first", "udp", "bulk")]
        text = "".join(f"{c:>{w}.1f}" if c is not None else f"{'-':>{w}}"
                       for c, w in zip(cells, (14, 13, 12, 11)))
        print(f"{name:<15}{text}")
    k_first, p_first = med("kernel mode", "first"), med("preload", "first")
    print(f"\nkernel / preload, connect until the peer's close is read: {k_first / p_first:.2f} "
          f"(target <= 1.10; connect() alone returns before the proxy is reached in kernel mode)")
    print(f"kernel / SOCKS5 itself, bulk: "
          f"{med('kernel mode', 'bulk') / med('SOCKS5 itself', 'bulk'):.2f} (target >= 0.90)")
    print(f"one plain hop / SOCKS5 itself: connect until the close is read "
          f"{med('itself, 1 hop', 'first') / med('SOCKS5 itself', 'first'):.2f}, bulk "
          f"{med('itself, 1 hop', 'bulk') / med('SOCKS5 itself', 'bulk'):.2f} "
          f"(what a relay between program and proxy costs at the least)")

    # A program that is not accelerated, connecting to a peer the component could catch. The
    # peers (threads of this process) and the client each keep to a CPU of their own: left to
    # the scheduler, whole rounds take three times as long at random, with or without the
    # component, as the client and the peer's threads are placed.
    cpus = sorted(os.sched_getaffinity(0))
    for thread in os.listdir("/proc/self/task"):
        os.sched_setaffinity(int(thread), {cpus[0]})
    pinned = ["taskset", "-c", str(cpus[-1]), plain]
    without, with_component = [], []
    for _ in range(ROUNDS):
        for on, into in ((False, without), (True, with_component)):
            b.component(on)
            into.append(b.run([*pinned, "connect", str(PLAIN_CONNECTS), PEER, str(b.closer)])[0])
    w, c = statistics.median(without), statistics.median(with_component)
    print(f"\nUnaccelerated program, connect() to {PEER} ({PLAIN_CONNECTS} per round, median of "
          f"{ROUNDS} rounds, client on CPU {cpus[-1]}, peers on CPU {cpus[0]}): no component "
          f"{w:.1f} us, component running {c:.1f} us ({c - w:+.1f} us); rounds: "
          f"{sorted(without)} / {sorted(with_component)}")


if __name__ == "__main__":
    main()
