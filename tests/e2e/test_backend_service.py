"""The backend service as a user's service: it serves its clients one after another and several
at once, a slow client holds up nobody, a bad client changes nothing, and it runs only the
installer beside it, as the command says."""

import os
import shutil
import subprocess
import threading
import unittest

from harness import wait_until
from service_pipe import (PIPE_FILE, ServiceCopy, install_command, removal_command,
                          scratch_dir)

PRELOAD_STATUS = ("mode preload\nreason the backend service is not installed as a system "
                  "service on this machine\n")


class UserServiceTest(unittest.TestCase):
    def setUp(self):
        self.root = scratch_dir("morvil-service-")
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)
        self.runtime = os.path.join(self.root, "runtime")
        os.makedirs(self.runtime, mode=0o700)
        self.service = ServiceCopy(self.root)
        self.addCleanup(self.service.stop)
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.service.start(env, os.path.join(self.runtime, "morvil", "pipe", PIPE_FILE))

    def test_serves_clients_one_after_another_and_at_once(self):
        for _ in range(30):
            with self.service.connect() as pipe:
                self.assertEqual(pipe.ask("status"), PRELOAD_STATUS)
        pipes = [self.service.connect() for _ in range(8)]
        try:
            for pipe in pipes:
                pipe.send("status")
            for pipe in reversed(pipes):
                self.assertEqual(pipe.recv(), PRELOAD_STATUS)
            # Each connection keeps being served for as many messages as it sends.
            for pipe in pipes:
                self.assertEqual(pipe.ask("nonsense"), "invalid command")
        finally:
            for pipe in pipes:
                pipe.close()

    def test_a_slow_client_holds_up_nobody(self):
        self.service.write("hold")
        slow = self.service.connect(timeout=30)
        answers = []
        waiter = threading.Thread(target=lambda: answers.append(
            slow.ask(install_command(self.service.app))))
        waiter.start()
        try:
            self.assertTrue(wait_until(lambda: self.service.read("pellix.log")))
            # The installer of the first client is still running; others are answered.
            silent = self.service.connect()
            for _ in range(3):
                with self.service.connect() as pipe:
                    self.assertEqual(pipe.ask("status"), PRELOAD_STATUS)
            silent.close()
            self.assertEqual(answers, [])
        finally:
            os.unlink(self.service.file("hold"))
            waiter.join(10)
            slow.close()
        self.assertEqual(answers, ["0"])

    def test_bad_clients_get_an_error_or_are_closed_and_the_service_goes_on(self):
        garbage = ["", "\x00\x01", "STATUS", "open,", "open,/pellix.exe",
                   "RequestAcc,1,C:\\game.exe", "\ud800" * 3]
        with self.service.connect() as pipe:
            for text in garbage:
                self.assertEqual(pipe.ask(text), "invalid command", repr(text))
            # Bytes that are no UTF-16 text (an odd count) are refused the same way.
            pipe.sock.send(b"s\x00t\x00a")
            self.assertEqual(pipe.recv(), "invalid command")
        # A message longer than any command: refused, and its connection ends.
        with self.service.connect() as pipe:
            pipe.send("x" * 50_000)
            self.assertEqual(pipe.recv(), "invalid command")
            self.assertIsNone(pipe.recv())
        # A 1 MB message does not even fit a socket buffer; the client alone sees the failure.
        with self.service.connect() as pipe:
            with self.assertRaises(OSError):
                pipe.send("y" * 500_000)
        # Clients that leave at once, or in the middle of an exchange.
        for _ in range(5):
            self.service.connect().close()
        pipe = self.service.connect()
        pipe.send(install_command(self.service.app))
        pipe.close()
        self.assertTrue(wait_until(lambda: self.service.read("pellix.log")))
        with self.service.connect() as pipe:
            self.assertEqual(pipe.ask("status"), PRELOAD_STATUS)
        self.assertIsNone(self.service.proc.poll())

    def test_runs_only_the_installer_beside_it_as_the_command_says(self):
        app = self.service.app
        other = os.path.join(self.root, "other")
        os.makedirs(other)
        shutil.copy2(self.service.file("pellix.exe"), os.path.join(other, "pellix.exe"))
        refused = [
            install_command(other),                      # an installer elsewhere
            install_command(app).replace("-i -a", "-i  -a"),
            install_command(app) + " -x",
            install_command(app).replace("sorvan_lsp.dll", "other.dll"),
            f"open,{app}/pellix.exe, -i; touch {self.root}/owned",
            f"runas,{app}/pellix.exe, -r -n \"sorvan_lsp\"",
            f"open,{app}/../app/morvil-backend-service, -i",
        ]
        with self.service.connect() as pipe:
            for command in refused:
                self.assertEqual(pipe.ask(command), "invalid command", command)
            self.assertEqual(self.service.read("pellix.log"), "")
            self.assertEqual(os.listdir(other), ["pellix.exe"])

            self.assertEqual(pipe.ask(install_command(app)), "0")
            self.assertEqual(self.service.read("pellix.log"),
                             f"-i -a -n sorvan_lsp -d32 {app}/sorvan_lsp.dll\n")
            # As the user's service, the installer runs with the service's environment.
            self.assertIn(f"XDG_RUNTIME_DIR={self.runtime}\n", self.service.read("pellix.env"))

            self.service.write("exit-code", "3")
            self.assertEqual(pipe.ask(removal_command(app)), "3")
            self.assertTrue(self.service.read("pellix.log").endswith("-r -n sorvan_lsp\n"))

    def test_a_link_to_the_service_directory_names_its_installer(self):
        link = os.path.join(self.root, "link")
        os.symlink(self.service.app, link)
        with self.service.connect() as pipe:
            self.assertEqual(pipe.ask(install_command(link)), "0")
        self.assertEqual(self.service.read("pellix.log"),
                         f"-i -a -n sorvan_lsp -d32 {link}/sorvan_lsp.dll\n")

    def test_a_second_service_of_the_user_leaves_the_first_serving(self):
        second = ServiceCopy(os.path.join(self.root, "second"))
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime)
        self.assertEqual(subprocess.run([second.program], env=env, timeout=10).returncode, 0)
        with self.service.connect() as pipe:
            self.assertEqual(pipe.ask("status"), PRELOAD_STATUS)


if __name__ == "__main__":
    unittest.main()
