#!/usr/bin/env python3
"""Round trip of one script call through the bridge (a host method that only returns), beside a
plain JavaScript call in the same page and a bare SOCK_SEQPACKET ping-pong between two processes,
in one run under a private X server. Prints microseconds per call and the ratio to the floor.

Usage: bench/bridge/run.py [calls] [same-cpu]   (after scripts/build.sh)
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.abspath(__file__)) + "/../.."
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from harness import XServer  # noqa: E402  (a private X server, as the tests use)
BUILD = os.path.join(ROOT, "build")

PAGE = """<!DOCTYPE html><html><head><title>Morvil Accelerator</title></head><body>
<div class='container' style='width:200px;height:100px'></div><script>
window.onload = function () { setTimeout(function () {
  var ext = window.external, n = %(calls)d, sink = 0, i, t0, t1, t2;
  function plain(s) { return s; }
  for (i = 0; i < 200; i++) ext.GetPair('');          // warm up both sides
  t0 = performance.now();
  for (i = 0; i < n; i++) ext.GetPair('');
  t1 = performance.now();
  for (i = 0; i < n; i++) sink += plain('').length;
  t2 = performance.now();
  ext.WriteFileContent(ext.GetAppCurrentPath() + '/bench.json', JSON.stringify(
      {bridge_us: (t1 - t0) * 1000 / n, plain_us: (t2 - t1) * 1000 / n, sink: sink}));
  ext.CloseWindow(0);
}, 300); };
</script></body></html>"""


def main():
    calls = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    # "same-cpu": pin the program (its web processes inherit it) and the ping-pong to one CPU,
    # which takes the scheduler's placement out of both figures.
    pin = ["taskset", "-c", "0"] if "same-cpu" in sys.argv[2:] else []
    work = tempfile.mkdtemp(prefix="morvil-bench-")
    shutil.copy2(os.path.join(BUILD, "bin", "morvil"), work)
    shutil.copytree(os.path.join(BUILD, "bin", "webext"), os.path.join(work, "webext"))
    os.makedirs(os.path.join(work, "res"))
    with open(os.path.join(work, "res", "index.html"), "w") as f:
        f.write(PAGE % {"calls": calls})
    xvfb = XServer()
    env = dict(xvfb.env(), XDG_RUNTIME_DIR=os.path.join(work, "runtime"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    env.setdefault("WEBKIT_DISABLE_COMPOSITING_MODE", "1")
    try:
        floor = float(subprocess.run(pin + [os.path.join(BUILD, "bench", "bench_seqpacket_pingpong"),
                                      str(calls)], capture_output=True, text=True).stdout)
        subprocess.run(pin + [os.path.join(work, "morvil")], env=env, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(work, "bench.json")) as f:
            page = json.load(f)
        floor_after = float(subprocess.run(
            pin + [os.path.join(BUILD, "bench", "bench_seqpacket_pingpong"), str(calls)],
            capture_output=True, text=True).stdout)
    finally:
        xvfb.close()
        shutil.rmtree(work, ignore_errors=True)
    floor = min(floor, floor_after)
    print(f"script call through the bridge: {page['bridge_us']:8.2f} us/call ({calls} calls)")
    print(f"plain JavaScript call:          {page['plain_us']:8.3f} us/call")
    print(f"SOCK_SEQPACKET ping-pong:       {floor:8.2f} us/round trip (best of two runs)")
    print(f"ratio bridge / ping-pong: {page['bridge_us'] / floor:.2f} (target <= 1.20)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
