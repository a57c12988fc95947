"""Talking to the backend service over its pipe as the page and the component do, and a copy of
the service with a recording installer beside it, for the backend service's end-to-end tests."""

import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile

from harness import BIN_DIR, wait_until

PIPE_FILE = "zrnetworkgamebackendservice"
READ_LIMIT = 2048

# Records its arguments and environment, waits while a file "hold" lies beside it, then exits
# with the number in "exit-code" (0 without one). With a file "status-for-caller" it first
# writes the caller's component status as a running component would.
FAKE_INSTALLER = r"""#!/bin/sh
dir=$(dirname "$0")
echo "$*" >> "$dir/pellix.log"
env | sort > "$dir/pellix.env"
while [ -e "$dir/hold" ]; do sleep 0.02; done
if [ -e "$dir/status-for-caller" ]; then
  users="$MORVIL_SYSTEM_DIR/users/$MORVIL_CALLER_UID"
  mkdir -p "$users"
  printf 'mode kernel\ncomponent %s\nupdated %s\ncgroup /sys/fs/cgroup/morvil/u%s\n' \
    "$(cat "$dir/status-for-caller")" "$(date +%s)" "$MORVIL_CALLER_UID" > "$users/status.tmp"
  mv "$users/status.tmp" "$users/status"
fi
exit "$(cat "$dir/exit-code" 2>/dev/null || echo 0)"
"""


# Run as another user (`python3 -c`), as a page's process would ask: sends each message of argv[2]
# (JSON) on one connection to the pipe at argv[1], waiting up to argv[3] seconds for each answer,
# and prints as JSON the answers (null where the connection was closed or failed) and the
# process's own cgroup.
ASK_SCRIPT = r"""
import json, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
s.settimeout(float(sys.argv[3]))
s.connect(sys.argv[1])
answers = []
for message in json.loads(sys.argv[2]):
    try:
        s.send(message.encode("utf-16-le", "surrogatepass"))
        data = s.recv(65536)
    except OSError:
        data = b""
    answers.append(data.decode("utf-16-le") if data else None)
print(json.dumps({"answers": answers, "cgroup": open("/proc/self/cgroup").read()}))
"""


def ask_command(python, pipe_path, messages, timeout):
    """The command line that runs ASK_SCRIPT with `python`; its output goes to read_answers."""
    return [python, "-c", ASK_SCRIPT, pipe_path, json.dumps(messages), str(timeout)]


def read_answers(output):
    """(answers, the asking process's cgroup) from what ASK_SCRIPT printed."""
    result = json.loads(output)
    return result["answers"], result["cgroup"]


def scratch_dir(prefix, mode=0o700):
    base = os.environ.get("TMPDIR") or os.environ.get("XDG_RUNTIME_DIR") or None
    path = tempfile.mkdtemp(prefix=prefix, dir=base)
    os.chmod(path, mode)
    return path


def install_command(directory):
    return (f'open,{directory}/pellix.exe, -i -a -n "sorvan_lsp" -d32 '
            f'"{directory}/sorvan_lsp.dll"')


def removal_command(directory):
    return f'open,{directory}/pellix.exe, -r -n "sorvan_lsp"'


class Pipe:
    """One client connection; messages are UTF-16LE texts, one per packet."""

    def __init__(self, path, timeout=10.0):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.sock.settimeout(timeout)
        self.sock.connect(path)

    def send(self, text):
        self.sock.send(text.encode("utf-16-le", "surrogatepass"))

    def recv(self):
        """The next message, or None when the service closed the connection."""
        data = self.sock.recv(65536)
        return data.decode("utf-16-le") if data else None

    def ask(self, text):
        self.send(text)
        return self.recv()

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *args):
        self.close()


class ServiceCopy:
    """morvil-backend-service copied into a directory of its own with FAKE_INSTALLER as its
    pellix.exe; run as the user's service (runtime dir given) or as the system service."""

    def __init__(self, root):
        self.app = os.path.join(root, "app")
        os.makedirs(self.app)
        os.chmod(root, 0o755)
        os.chmod(self.app, 0o755)
        self.program = os.path.join(self.app, "morvil-backend-service")
        shutil.copy2(os.path.join(BIN_DIR, "morvil-backend-service"), self.program)
        installer = os.path.join(self.app, "pellix.exe")
        with open(installer, "w") as f:
            f.write(FAKE_INSTALLER)
        os.chmod(installer, 0o755)
        self.proc = None

    def file(self, name):
        return os.path.join(self.app, name)

    def write(self, name, text=""):
        with open(self.file(name), "w") as f:
            f.write(text)

    def read(self, name):
        try:
            with open(self.file(name)) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def start(self, env, pipe_path, *args):
        self.proc = subprocess.Popen([self.program, *args], env=env, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.pipe_path = pipe_path
        if not wait_until(lambda: os.path.exists(pipe_path) or self.proc.poll() is not None):
            raise AssertionError("the service's pipe never appeared")
        if self.proc.poll() is not None:
            raise AssertionError(f"the service ended with {self.proc.returncode}")

    def connect(self, timeout=10.0):
        return Pipe(self.pipe_path, timeout)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()
