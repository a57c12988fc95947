"""The main page shows which acceleration mode is on while acceleration is on: kernel mode with
the accelerated programs and their bytes through the proxy (from the component's status, asked
of the backend service once a second), or preload mode and why; nothing once it is stopped.

A driver added to a copy of the main page starts acceleration, records what the mode block
shows, and stops acceleration once the block shows what the test waits for."""

import json
import os
import re
import signal
import subprocess
import threading
import time

import test_pages
import test_tray
from harness import wait_until
from service_pipe import FAKE_INSTALLER, PIPE_FILE

DRIVER = """
<script>
window.addEventListener('load', function () {
  var $ = function (id) { return document.getElementById(id); };
  var ext = window.external, seen = [], stopped = false;
  $('server').value = '192.0.2.1'; $('port').value = '1080'; $('save-proxy').click();
  $('program').value = 'game.exe'; $('add-program').click();
  setTimeout(function () { $('toggle').click(); }, 300);
  setInterval(function () {
    var box = $('acceleration'), text = box.hidden ? '' : box.innerText;
    if (seen.indexOf(text) < 0) seen.push(text);
    if (!stopped && text.indexOf(STOP_AFTER) >= 0) { stopped = true; $('toggle').click(); }
    ext.WriteFileContent(ext.GetAppCurrentPath() + '/mode.json', JSON.stringify(
        { seen: seen, stopped: stopped, hidden: box.hidden, status: $('status').textContent }));
  }, 200);
});
</script>
"""


class AccelerationModeTest(test_tray.OnPrivateBusTest):
    WINDOW_MANAGER = True

    def start(self, stop_after, programs, env):
        pages = test_pages.product_pages([])
        pages["index.html"] = pages["index.html"].replace(
            "</body>", DRIVER.replace("STOP_AFTER", json.dumps(stop_after)) + "</body>")
        m = self.morvil(pages, extra_programs=programs)
        m.extra_env.update(XDG_CONFIG_HOME=os.path.join(m.root, "config"),
                           XDG_STATE_HOME=os.path.join(m.root, "state"),
                           XDG_DATA_HOME=os.path.join(m.root, "data"),
                           GSETTINGS_BACKEND="keyfile", **env)
        return m

    def finished(self, m):
        """What the page showed, once it stopped acceleration and hid the mode block."""
        def done():
            shown = m.result("mode.json")
            return shown if shown and shown["stopped"] and shown["hidden"] else None
        shown = wait_until(done, timeout=40)
        self.assertIsNotNone(shown, m.result("mode.json"))
        self.assertEqual(shown["status"], "Not accelerating")
        return shown["seen"]

    def test_kernel_mode_shows_the_accelerated_programs_and_their_bytes(self):
        m = self.start(" more", ("morvil-backend-service",), {})
        system = os.path.join(m.root, "system")
        m.extra_env["MORVIL_SYSTEM_DIR"] = system
        with open(os.path.join(m.root, "pellix.exe"), "w") as f:
            f.write(FAKE_INSTALLER)
        os.chmod(os.path.join(m.root, "pellix.exe"), 0o755)
        service = subprocess.Popen([os.path.join(m.root, "morvil-backend-service"), "--system"],
                                   env=dict(os.environ, MORVIL_SYSTEM_DIR=system))
        self.addCleanup(service.wait)
        self.addCleanup(service.send_signal, signal.SIGKILL)
        self.assertTrue(wait_until(lambda: os.path.exists(os.path.join(system, "pipe",
                                                                       PIPE_FILE))))

        # The component of this user, as it would keep its status fresh.
        users = os.path.join(system, "users", str(os.getuid()))
        os.makedirs(users)
        stopped = threading.Event()

        # Refreshes the file as the component does, until the test ends (the wait ends at once then).
        def component():
            while True:
                programs = ["program 4321 1536 3145728 C:\\Games\\game.exe\n"] + [
                    f"program {5000 + i} {i} {i} /opt/other-{i}/game.exe\n" for i in range(40)]
                with open(os.path.join(users, "status.tmp"), "w") as f:
                    f.write(f"mode kernel\ncomponent {os.getpid()}\nupdated {int(time.time())}\n"
                            f"cgroup /sys/fs/cgroup/morvil/u0\nproxy 192.0.2.1 1080\n"
                            + "".join(programs))
                os.replace(os.path.join(users, "status.tmp"), os.path.join(users, "status"))
                if stopped.wait(0.3):
                    return
        writer = threading.Thread(target=component, daemon=True)
        writer.start()

        def stop_component():
            stopped.set()
            writer.join()
        self.addCleanup(stop_component)

        m.start()
        seen = self.finished(m)
        kernel = [text for text in seen if "Kernel mode" in text]
        self.assertTrue(kernel, seen)
        self.assertIn("game.exe", kernel[0])
        self.assertIn("\u2191 1.5 KB \u2193 3.0 MB", kernel[0])
        # 41 programs do not fit one answer: those left out are counted.
        left_out = int(re.search(r"and (\d+) more", kernel[0]).group(1))
        self.assertEqual(kernel[0].count("game.exe") + left_out, 41)
        with open(os.path.join(m.root, "pellix.log")) as f:
            self.assertEqual(f.read(), f"-i -a -n sorvan_lsp -d32 {m.root}/sorvan_lsp.dll\n")

    def test_preload_mode_says_why(self):
        m = self.start("Preload mode", ("Caddow.exe", "pellix.exe", "morvil-backend-service",
                                        "sorvan_lsp.so"),
                       {"MORVIL_SYSTEM_DIR": "/nonexistent/morvil-system"})
        self.addCleanup(self.stop_users_service, m)
        m.start()
        seen = self.finished(m)
        preload = [text for text in seen if "Preload mode" in text]
        self.assertTrue(preload, seen)
        self.assertIn("not installed as a system service", preload[0])

    @staticmethod
    def stop_users_service(m):
        try:
            with open(os.path.join(m.runtime_dir, "morvil", "backend-service.pid")) as f:
                os.kill(int(f.read()), signal.SIGKILL)
        except (FileNotFoundError, ProcessLookupError, ValueError):
            pass


if __name__ == "__main__":
    import unittest
    unittest.main()
