"""The backend service as the system service (root), driven as every local user would drive it:
clients of other user ids (setpriv) over the pipe in the system directory. It acts for each
caller only, runs only the installer beside it with a clean environment, treats every message
as hostile and keeps serving; and the starter brings it up through systemd where it can.

Runs in a private mount namespace: a tmpfs on /mnt holds the service, its installer and its
system directory (MORVIL_SYSTEM_DIR), where other users can reach them; cgroup2 is mounted on
/sys/fs/cgroup."""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from harness import BIN_DIR, wait_until
from service_pipe import (PIPE_FILE, Pipe, ServiceCopy, ask_command, install_command,
                          read_answers, removal_command, scratch_dir)

CALLER = 4242
OTHER = 4243
# A Python that other users can run.
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
NOT_RUNNING = "mode preload\nreason the network-stack component is not running for you\n"
USERS_SERVICE = ("mode preload\nreason the backend service is not installed as a system service "
                 "on this machine\n")

# Run as another user: opens argv[2] connections, says "ready", waits for a line on standard
# input, then asks "status" on each and prints how many were answered.
HOLDER = r"""
import socket, sys
pipes = []
for _ in range(int(sys.argv[2])):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    s.settimeout(5)
    s.connect(sys.argv[1])
    pipes.append(s)
print("ready", flush=True)
sys.stdin.readline()
answered = 0
for s in pipes:
    try:
        s.send("status".encode("utf-16-le"))
        if s.recv(4096):
            answered += 1
    except OSError:
        pass
print(answered, flush=True)
sys.stdin.readline()
"""

_mounts = []


def _ended(pid):
    """True once the process has ended (gone, or a zombie whose files are closed)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def _mount(*args):
    subprocess.run(["mount", *args], check=True)
    _mounts.append(args[-1])


def setUpModule():
    if os.geteuid() != 0:
        raise unittest.SkipTest("the system service runs as root")
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(0x00020000) != 0:  # CLONE_NEWNS
        raise unittest.SkipTest("no private mount namespace")
    ms_rec, ms_private = 0x4000, 0x40000
    if libc.mount(b"none", b"/", None, ms_rec | ms_private, None) != 0:
        raise unittest.SkipTest("mount propagation cannot be made private")
    _mount("-t", "tmpfs", "-o", "mode=755", "tmpfs", "/mnt")
    _mount("-t", "cgroup2", "none", "/sys/fs/cgroup")
    _mount("-t", "tmpfs", "-o", "mode=755", "tmpfs", "/run")


def tearDownModule():
    for target in reversed(_mounts):
        subprocess.run(["umount", "-l", target])


class SystemServiceBase(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="service-", dir="/mnt")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.service = ServiceCopy(self.root)
        self.addCleanup(self.service.stop)
        self.system = os.path.join(self.root, "system")
        self.pipe_path = os.path.join(self.system, "pipe", PIPE_FILE)
        self.env = dict(os.environ, MORVIL_SYSTEM_DIR=self.system)

    def start_service(self):
        self.service.start(self.env, self.pipe_path, "--system")

    def user_dir(self, uid, name, mode=0o700):
        path = os.path.join(self.root, name)
        os.makedirs(path)
        os.chown(path, uid, uid)
        os.chmod(path, mode)
        return path

    def as_user(self, uid, messages, env=None):
        """Sends `messages` as user `uid` on one connection: (answers, the client's cgroup)."""
        run = subprocess.run(
            ["setpriv", f"--reuid={uid}", f"--regid={uid}", "--clear-groups",
             *ask_command(PYTHON, self.pipe_path, messages, timeout=15)],
            env=env or {"PATH": os.environ["PATH"]}, cwd="/", capture_output=True, text=True,
            timeout=60)
        self.assertEqual(run.returncode, 0, run.stderr)
        return read_answers(run.stdout)

    def write_status(self, uid, text, owner=0):
        users = os.path.join(self.system, "users", str(uid))
        os.makedirs(users, exist_ok=True)
        path = os.path.join(users, "status")
        with open(path + ".tmp", "w") as f:
            f.write(text)
        os.chown(path + ".tmp", owner, owner)
        os.replace(path + ".tmp", path)
        return path

    @staticmethod
    def status_text(pid=None, updated=None, cgroup="/sys/fs/cgroup/morvil/u4242", programs=()):
        text = (f"mode kernel\ncomponent {pid or os.getpid()}\n"
                f"updated {int(updated or time.time())}\ncgroup {cgroup}\n"
                f"proxy 192.0.2.1 1080\n")
        return text + "".join(f"program {p}\n" for p in programs)


class SystemServiceTest(SystemServiceBase):
    def setUp(self):
        super().setUp()
        self.start_service()

    def test_pipe_is_open_to_every_user_and_changed_by_none(self):
        for path in (self.system, os.path.dirname(self.pipe_path)):
            st = os.lstat(path)
            self.assertEqual((st.st_uid, st.st_mode & 0o7777), (0, 0o755), path)
        self.assertEqual(os.lstat(self.pipe_path).st_mode & 0o7777, 0o666)
        self.assertEqual(self.as_user(CALLER, ["status"])[0], [NOT_RUNNING])

    def test_runs_the_installer_for_the_caller_with_a_clean_environment(self):
        self.service.write("status-for-caller", str(os.getpid()))
        runtime = self.user_dir(CALLER, "runtime-4242")
        answers, _ = self.as_user(CALLER, [install_command(self.service.app), "status"],
                                  env={"PATH": "/usr/bin:/bin", "XDG_RUNTIME_DIR": runtime,
                                       "LD_PRELOAD": "/nonexistent.so", "SECRET": "x"})
        self.assertEqual(answers[0], "0")
        self.assertTrue(answers[1].startswith(f"mode kernel\ncomponent {os.getpid()}\n"))
        self.assertEqual(self.service.read("pellix.log"),
                         f"-i -a -n sorvan_lsp -d32 {self.service.app}/sorvan_lsp.dll\n")
        env = dict(line.split("=", 1) for line in self.service.read("pellix.env").splitlines())
        for name in ("PWD", "SHLVL", "_", "OLDPWD"):  # the shell's own
            env.pop(name, None)
        self.assertEqual(env, {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin",
                               "MORVIL_CALLER_UID": str(CALLER),
                               "MORVIL_CALLER_GID": str(CALLER),
                               "MORVIL_CALLER_RUNTIME_DIR": runtime,
                               "MORVIL_SYSTEM_DIR": self.system})
        # Another user sees only their own state.
        self.assertEqual(self.as_user(OTHER, ["status"])[0], [NOT_RUNNING])

        # A runtime directory that others may write is not passed on.
        shared = self.user_dir(CALLER, "shared-runtime", 0o777)
        self.as_user(CALLER, [removal_command(self.service.app)],
                     env={"PATH": "/usr/bin:/bin", "XDG_RUNTIME_DIR": shared})
        self.assertIn(f"MORVIL_CALLER_RUNTIME_DIR=/run/user/{CALLER}\n",
                      self.service.read("pellix.env"))
        self.assertTrue(self.service.read("pellix.log").endswith("-r -n sorvan_lsp\n"))

    def test_answers_zero_only_once_the_component_runs(self):
        # The installer says 0, yet no component status appears.
        answers, _ = self.as_user(CALLER, [install_command(self.service.app), "status"])
        reason = "the network-stack component did not come up"
        self.assertEqual(answers, [reason, f"mode preload\nreason {reason}\n"])
        self.service.write("exit-code", "7")
        answers, _ = self.as_user(CALLER, [install_command(self.service.app), "status"])
        self.assertEqual(answers, ["7", "mode preload\nreason the installer failed with exit "
                                        "code 7\n"])
        self.assertEqual(self.as_user(OTHER, ["status"])[0], [NOT_RUNNING])

    def test_hostile_commands_change_nothing_and_the_service_goes_on(self):
        other = os.path.join(self.root, "other")
        os.makedirs(other)
        shutil.copy2(self.service.file("pellix.exe"), other)
        link = os.path.join(self.root, "link")
        os.symlink(self.service.app, link)
        app = self.service.app
        before = sorted(os.walk(self.root))
        hostile = [install_command(other), install_command(link), install_command(app + "/"),
                   install_command(f"{self.root}/./app"),
                   install_command(app).replace('"sorvan_lsp"', '"other"'),
                   f"open,{app}/pellix.exe, -i -a -n \"sorvan_lsp\" -d32 \"/etc/shadow\"",
                   f"open,{app}/morvil-backend-service, --system", "", "x" * 1000,
                   "status ", "accelerate-self\n", "\ud800", "\x00status"]
        answers, _ = self.as_user(CALLER, hostile)
        self.assertEqual(answers, ["invalid command"] * len(hostile))
        self.assertEqual(self.service.read("pellix.log"), "")
        self.assertEqual(sorted(os.walk(self.root)), before)
        # A message longer than a command: refused, and the connection ends.
        answers, _ = self.as_user(CALLER, ["y" * 30000, "status"])
        self.assertEqual(answers, ["invalid command", None])
        # An installer that others than root could have changed is never run as root.
        for path, mode in ((self.service.file("pellix.exe"), 0o777), (app, 0o775)):
            os.chmod(path, mode)
            answers, _ = self.as_user(CALLER, [install_command(app)])
            self.assertEqual(answers, ["the installer may be changed by others than root"])
            os.chmod(path, 0o755)
        self.assertEqual(self.service.read("pellix.log"), "")
        self.assertEqual(self.as_user(OTHER, ["status"])[0], [NOT_RUNNING])
        self.assertIsNone(self.service.proc.poll())

    def test_status_is_each_callers_own_and_only_from_a_live_component(self):
        status = self.status_text()
        self.write_status(CALLER, status)
        self.assertEqual(self.as_user(CALLER, ["status"])[0], [status])
        self.assertEqual(self.as_user(OTHER, ["status"])[0], [NOT_RUNNING])

        dead = subprocess.Popen(["true"])
        dead.wait()
        forged = {
            "written by the user": (self.status_text(), CALLER),
            "a component that has ended": (self.status_text(pid=dead.pid), 0),
            "not updated for a minute": (self.status_text(updated=time.time() - 60), 0),
            "no kernel mode": (self.status_text().replace("mode kernel", "mode other"), 0),
        }
        for what, (text, owner) in forged.items():
            self.write_status(CALLER, text, owner)
            self.assertEqual(self.as_user(CALLER, ["status"])[0], [NOT_RUNNING], what)
        path = self.write_status(OTHER, self.status_text())
        os.unlink(self.write_status(CALLER, ""))
        os.symlink(path, os.path.join(self.system, "users", str(CALLER), "status"))
        self.assertEqual(self.as_user(CALLER, ["status"])[0], [NOT_RUNNING], "a link")

    def test_a_long_status_is_cut_to_one_message_and_says_how_many_are_left_out(self):
        programs = [f"{1000 + i} {i * 1000} {i * 2000} C:\\Games\\Game {i}\\game{i}.exe"
                    for i in range(200)]
        self.write_status(CALLER, self.status_text(programs=programs))
        answer = self.as_user(CALLER, ["status"])[0][0]
        self.assertLessEqual(len(answer.encode("utf-16-le")), 2048)
        lines = answer.splitlines()
        shown = [line for line in lines if line.startswith("program ")]
        self.assertTrue(lines[-1].startswith("more "))
        self.assertEqual(len(shown) + int(lines[-1].split()[1]), 200)
        self.assertEqual(shown, [f"program {p}" for p in programs[:len(shown)]])
        self.assertIn("proxy 192.0.2.1 1080", lines)

    def test_many_clients_of_one_user_do_not_lock_out_another(self):
        holder = subprocess.Popen(
            ["setpriv", f"--reuid={CALLER}", f"--regid={CALLER}", "--clear-groups",
             PYTHON, "-c", HOLDER, self.pipe_path, "40"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, cwd="/",
            env={"PATH": os.environ["PATH"]})
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.stdin.close)
        self.addCleanup(holder.kill)
        self.assertEqual(holder.stdout.readline(), "ready\n")
        self.assertEqual(self.as_user(OTHER, ["status"])[0], [NOT_RUNNING])
        holder.stdin.write("\n")
        holder.stdin.flush()
        self.assertEqual(int(holder.stdout.readline()), 16)
        # Once they are gone, the user is served again.
        holder.kill()
        holder.wait()
        self.assertTrue(wait_until(lambda: self.as_user(CALLER, ["status"])[0] == [NOT_RUNNING]))

    def test_accelerate_self_moves_only_the_calling_process_of_the_caller(self):
        cgroup = f"/sys/fs/cgroup/morvil-service-test-{os.getpid()}"
        os.mkdir(cgroup)
        self.addCleanup(os.rmdir, cgroup)
        self.write_status(CALLER, self.status_text(cgroup=cgroup))
        answers, membership = self.as_user(CALLER, ["accelerate-self"])
        self.assertEqual(answers, ["0"])
        self.assertIn(f"0::/morvil-service-test-{os.getpid()}\n", membership)
        answers, membership = self.as_user(OTHER, ["accelerate-self"])
        self.assertEqual(answers, ["kernel mode is not on for you"])
        self.assertIn("0::/\n", membership)
        # A status naming a place outside the cgroup tree is not followed.
        self.write_status(CALLER, self.status_text(cgroup=f"{self.root}/../{self.root}"))
        answers, membership = self.as_user(CALLER, ["accelerate-self"])
        self.assertTrue(answers[0].startswith("cannot move the process"), answers)

    def test_accelerate_self_refuses_when_the_connecting_process_has_ended(self):
        # The connection's process id names a process that has ended; its child asks. Nothing
        # is moved: the id could name another process by then.
        cgroup = f"/sys/fs/cgroup/morvil-service-test-{os.getpid()}"
        os.mkdir(cgroup)
        self.addCleanup(os.rmdir, cgroup)
        self.write_status(CALLER, self.status_text(cgroup=cgroup))
        script = (
            "import os, socket, sys\n"
            "s = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)\n"
            "s.settimeout(15)\n"
            "s.connect(sys.argv[1])\n"
            "parent = os.getpid()\n"
            "if os.fork():\n"
            "    os._exit(0)\n"
            "while os.getppid() == parent:\n"
            "    os.sched_yield()\n"
            "s.send('accelerate-self'.encode('utf-16-le'))\n"
            "print(s.recv(4096).decode('utf-16-le'))\n")
        run = subprocess.run(["setpriv", f"--reuid={CALLER}", f"--regid={CALLER}",
                              "--clear-groups", PYTHON, "-c", script, self.pipe_path],
                             env={"PATH": os.environ["PATH"]}, cwd="/", capture_output=True,
                             text=True, timeout=60)
        self.assertEqual(run.stdout.strip(), "the calling process has ended", run.stderr)
        with open(os.path.join(cgroup, "cgroup.procs")) as procs:
            self.assertEqual(procs.read(), "")


class SocketActivationTest(SystemServiceBase):
    def test_serves_the_socket_systemd_passes_as_the_system_service(self):
        activate = shutil.which("systemd-socket-activate")
        if not activate:
            self.skipTest("systemd-socket-activate is not installed")
        os.makedirs(os.path.dirname(self.pipe_path), mode=0o755)
        proc = subprocess.Popen([activate, "--seqpacket", "-l", self.pipe_path,
                                 f"--setenv=MORVIL_SYSTEM_DIR={self.system}",
                                 self.service.program], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(proc.wait)
        self.addCleanup(proc.kill)
        self.assertTrue(wait_until(lambda: os.path.exists(self.pipe_path)))
        os.chmod(self.pipe_path, 0o666)  # as the socket unit's SocketMode
        status = self.status_text()
        self.write_status(CALLER, status)
        # The first client starts the service, which acts for each caller.
        self.assertEqual(self.as_user(CALLER, ["status"])[0], [status])
        self.assertEqual(self.as_user(OTHER, ["status", "accelerate-self"])[0],
                         [NOT_RUNNING, "kernel mode is not on for you"])
        self.assertIsNone(proc.poll())


class StarterTest(SystemServiceBase):
    """Caddow.exe -i: the system service through systemd where the units are there, the user's
    service otherwise."""

    FAKE_SYSTEMCTL = """#!/bin/sh
echo "$*" >> "{log}"
[ "$*" = "--no-ask-password start morvil-backend-service.socket" ] || exit 5
[ -e "{units}" ] || exit 5
setsid "{service}" --system </dev/null >/dev/null 2>&1 &
echo $! > "{pid}"
"""

    def setUp(self):
        super().setUp()
        shutil.copy2(os.path.join(BIN_DIR, "Caddow.exe"), self.service.app)
        bin_dir = os.path.join(self.root, "bin")
        os.makedirs(bin_dir)
        self.units = os.path.join(self.root, "units-installed")
        self.systemctl_log = os.path.join(self.root, "systemctl.log")
        self.system_pid = os.path.join(self.root, "system.pid")
        with open(os.path.join(bin_dir, "systemctl"), "w") as f:
            f.write(self.FAKE_SYSTEMCTL.format(log=self.systemctl_log, units=self.units,
                                               service=self.service.program,
                                               pid=self.system_pid))
        os.chmod(os.path.join(bin_dir, "systemctl"), 0o755)
        self.runtime = scratch_dir("runtime-")
        self.addCleanup(shutil.rmtree, self.runtime, ignore_errors=True)
        self.env.update(PATH=bin_dir + ":" + os.environ["PATH"], XDG_RUNTIME_DIR=self.runtime)
        self.addCleanup(self.stop_services)
        os.makedirs("/run/systemd/system", exist_ok=True)
        self.addCleanup(shutil.rmtree, "/run/systemd", ignore_errors=True)

    def stop_services(self):
        for pid_file in (self.system_pid, os.path.join(self.runtime, "morvil",
                                                       "backend-service.pid")):
            try:
                with open(pid_file) as f:
                    pid = int(f.read())
                os.kill(pid, signal.SIGKILL)
            except (FileNotFoundError, ProcessLookupError, ValueError):
                continue
            # A service that is still ending holds its instance lock: a new one would leave
            # at once, seeing it.
            self.assertTrue(wait_until(lambda: _ended(pid), interval=0.01))

    def starter(self):
        return subprocess.run([os.path.join(self.service.app, "Caddow.exe"), "-i"],
                              env=self.env, timeout=20).returncode

    def user_pipe(self):
        return os.path.join(self.runtime, "morvil", "pipe", PIPE_FILE)

    def test_users_service_gives_way_once_the_system_service_answers(self):
        self.assertEqual(self.starter(), 0)  # no units: the user's service
        pid_file = os.path.join(self.runtime, "morvil", "backend-service.pid")
        with open(pid_file) as f:
            users_service = int(f.read())
        with Pipe(self.user_pipe()) as held:  # a client it is serving when the system's comes
            self.start_service()  # as the package's installation starts it
            self.assertTrue(wait_until(lambda: not os.path.exists(self.user_pipe())))
            self.assertFalse(os.path.exists(pid_file))
            # The client it serves is served to its end.
            self.assertEqual(held.ask("status"), USERS_SERVICE)
            self.assertFalse(_ended(users_service))
        self.assertTrue(wait_until(lambda: _ended(users_service)))

    def test_starts_the_system_service_through_systemd_where_its_units_are(self):
        open(self.units, "w").close()
        self.assertEqual(self.starter(), 0)
        self.assertTrue(os.path.exists(self.pipe_path))
        self.assertFalse(os.path.exists(self.user_pipe()))
        with Pipe(self.pipe_path) as pipe:
            self.assertEqual(pipe.ask("status"), NOT_RUNNING)

    def test_starts_the_users_service_without_units_or_without_systemd(self):
        self.assertEqual(self.starter(), 0)  # systemctl fails: no units
        self.assertTrue(os.path.exists(self.user_pipe()))
        self.assertFalse(os.path.exists(self.pipe_path))
        self.stop_services()
        os.unlink(self.user_pipe())
        open(self.units, "w").close()
        shutil.rmtree("/run/systemd")
        os.unlink(self.systemctl_log)
        self.assertEqual(self.starter(), 0)
        self.assertFalse(os.path.exists(self.systemctl_log))  # not a systemd machine
        self.assertTrue(os.path.exists(self.user_pipe()))


if __name__ == "__main__":
    unittest.main()
