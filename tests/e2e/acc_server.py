"""tools/acc-server, an acceleration pipe with fixed settings, run for an end-to-end test."""
import os
import subprocess
import threading

from harness import BIN_DIR


class AccServer:
    """Serves the pipe in the runtime directory that `env` names; `wrap` changes the command line
    (to run it as another user). `ready` tells whether it came up."""

    def __init__(self, env, processes, proxy_server, proxy_port, token, wrap=lambda argv: argv):
        self.proc = subprocess.Popen(
            wrap([os.path.join(BIN_DIR, "acc-server"), f"acc.processes={processes}",
                  f"acc.proxy_server={proxy_server}", f"acc.proxy_port={proxy_port}",
                  f"acc.proxy_token={token}"]),
            env=env, stdout=subprocess.PIPE, text=True)
        # Its own diagnostic lines may come first, and quickly, and its thread's line of a failed
        # read ends without a line break, so "ready" may follow it on one line: every line is
        # read, without pauses, until "ready" or the end; the rest is drained.
        self.ready = any(line.strip().endswith("ready") for line in self.proc.stdout)
        threading.Thread(target=self.proc.stdout.read, daemon=True).start()

    def close(self):
        self.proc.kill()
        self.proc.wait()
        self.proc.stdout.close()
