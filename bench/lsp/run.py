#!/usr/bin/env python3
"""Network-stack benchmark: connect() latency and bulk TCP throughput through the preload
library and the same loopback SOCKS5 proxy used by proxychains4, in the same run; the cost of a
listed program's connect() that asks morvil again (the library keeps an answer for a second);
then the library's cost on connect() for a program that morvil does not accelerate, against no
library.

    bench/lsp/run.py [BUILD_DIR]      (default: build)

Everything stays on loopback; the proxy is tests/support/socks5_test_server.py, so the absolute
figures are the proxy's, and only the comparison between the two clients means something.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from tcp_peers import bulk_sender, close_at_once, serve_tcp  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
CLIENT = os.path.join(BUILD, "bench", "lsp-bench")
TOKEN = "bench-token"
CONNECTS = 400
BULK_BYTES = 256 << 20
OVERHEAD_CONNECTS = 20000
ROUNDS = 5
# Connects far enough apart that each one asks the acceleration pipe again.
REASK_CONNECTS = 4
REASK_GAP_MS = 1100


def run(command, env):
    out = subprocess.run(command, env=env, capture_output=True, text=True, check=True).stdout
    return [float(x) for x in out.split()[1:]]


def main():
    if not shutil.which("proxychains4"):
        sys.exit("proxychains4 is not installed (scripts/install-deps.sh installs it)")
    scratch = tempfile.mkdtemp(prefix="morvil-lsp-bench-")
    runtime = os.path.join(scratch, "runtime")
    os.mkdir(runtime, 0o700)
    base_env = dict(os.environ, XDG_RUNTIME_DIR=runtime, MORVIL_LSP_PROXY_LOOPBACK="1")
    base_env.pop("LD_PRELOAD", None)
    proxy = subprocess.Popen([sys.executable, os.path.join(ROOT, "tests/support/socks5_test_server.py"),
                              "--user", TOKEN, "--password", TOKEN],
                             stdout=subprocess.PIPE, text=True)
    proxy_port = int(proxy.stdout.readline())
    threading.Thread(target=proxy.stdout.read, daemon=True).start()
    config = os.path.join(scratch, "proxychains.conf")
    with open(config, "w") as f:
        f.write(f"strict_chain\nquiet_mode\ntcp_read_time_out 15000\ntcp_connect_time_out 8000\n"
                f"[ProxyList]\nsocks5 127.0.0.1 {proxy_port} {TOKEN} {TOKEN}\n")
    closer = serve_tcp(close_at_once)
    bulk = serve_tcp(bulk_sender(BULK_BYTES))
    server = None

    def start_server(processes):
        nonlocal server
        if server:
            server.kill()
            server.wait()
        server = subprocess.Popen([os.path.join(BIN, "acc-server"), f"acc.processes={processes}",
                                   "acc.proxy_server=127.0.0.1", f"acc.proxy_port={proxy_port}",
                                   f"acc.proxy_token={TOKEN}"], env=base_env,
                                  stdout=subprocess.PIPE, text=True)
        # Its diagnostic lines may come first; at the end of its output it did not come up.
        if not any(line.strip().endswith("ready") for line in server.stdout):
            sys.exit(f"acc-server did not come up (exit status {server.wait()})")
        threading.Thread(target=server.stdout.read, daemon=True).start()

    try:
        start_server("lsp-bench")
        library_env = dict(base_env, LD_PRELOAD=os.path.join(BIN, "sorvan_lsp.so"))
        chains = ["proxychains4", "-q", "-f", config]
        results = {"library": {"connect": [], "bulk": []}, "proxychains4": {"connect": [], "bulk": []}}
        for _ in range(ROUNDS):
            for name, prefix, env in (("library", [], library_env), ("proxychains4", chains, base_env)):
                results[name]["connect"].append(
                    run(prefix + [CLIENT, "connect", str(CONNECTS), "127.0.0.1", str(closer)], env)[0])
                results[name]["bulk"].append(
                    run(prefix + [CLIENT, "bulk", str(BULK_BYTES), "127.0.0.1", str(bulk)], env)[0])
        print(f"Through the loopback SOCKS5 proxy (median of {ROUNDS} rounds):")
        print(f"{'client':<14}{'connect() median us':>22}{'bulk MB/s':>12}")
        for name, r in results.items():
            print(f"{name:<14}{statistics.median(r['connect']):>22.1f}{statistics.median(r['bulk']):>12.0f}")
        # Connects a second apart meet a machine that went idle meanwhile; proxychains4 under the
        # same pauses (it asks nobody) shows what that alone costs.
        spaced = {}
        for name, prefix, env in (("library", [], library_env), ("proxychains4", chains, base_env)):
            spaced[name] = statistics.median(
                run(prefix + [CLIENT, "connect", str(REASK_CONNECTS), "127.0.0.1", str(closer),
                              str(REASK_GAP_MS)], env)[0] for _ in range(3))
        print(f"Connects {REASK_GAP_MS} ms apart, so that the library asks morvil again at each: "
              f"median {spaced['library']:.1f} us with the library, "
              f"{spaced['proxychains4']:.1f} us with proxychains4")

        start_server("some-other-program")
        plain, unlisted = [], []
        for _ in range(ROUNDS):
            plain.append(run([CLIENT, "overhead", str(OVERHEAD_CONNECTS)], base_env))
            unlisted.append(run([CLIENT, "overhead", str(OVERHEAD_CONNECTS)], library_env))
        p_med = statistics.median(r[0] for r in plain)
        u_med = statistics.median(r[0] for r in unlisted)
        p_mean = statistics.median(r[1] for r in plain)
        u_mean = statistics.median(r[1] for r in unlisted)
        print(f"\nUnlisted program, loopback connect() ({OVERHEAD_CONNECTS} per round, median of "
              f"{ROUNDS} rounds):")
        print(f"  no library:   median {p_med/1000:.2f} us, mean {p_mean/1000:.2f} us")
        print(f"  with library: median {u_med/1000:.2f} us, mean {u_mean/1000:.2f} us")
        print(f"  added:        median {(u_med-p_med)/1000:+.3f} us, mean {(u_mean-p_mean)/1000:+.3f} us")
        # The same call without the kernel's connect work, so the hook's own cost shows.
        plain_call = statistics.median(run([CLIENT, "callcost", "1000000"], base_env)[0]
                                       for _ in range(ROUNDS))
        hooked_call = statistics.median(run([CLIENT, "callcost", "1000000"], library_env)[0]
                                        for _ in range(ROUNDS))
        print(f"  connect() on a bad descriptor: {plain_call:.1f} ns plain, {hooked_call:.1f} ns "
              f"with library ({hooked_call - plain_call:+.1f} ns)")
    finally:
        if server:
            server.kill()
        proxy.kill()
        shutil.rmtree(scratch, True)


if __name__ == "__main__":
    main()
