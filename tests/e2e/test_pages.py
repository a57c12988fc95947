"""The product's own pages driven as a user would: a driver script added to a copy of the main
page fills in fields and clicks buttons through the page's DOM, and the test checks the native
side: the INI file, the pair store as the network-stack component sees it, the desktop's proxy
setting, the backend service bootstrap."""

import configparser
import os
import re
import shutil
import subprocess

from harness import BIN_DIR, E2ETest, wait_until
from test_tray import OnPrivateBusTest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

# Runs the steps one after another, 400 ms apart, recording what the page shows after each; a step
# that returns false (waiting for a file the test makes) is tried again.
DRIVER = """
<script>
window.addEventListener('load', function () {
  var $ = function (id) { return document.getElementById(id); };
  var seen = {};
  function type(id, text) { $(id).value = text; }
  function click(id) { $(id).click(); }
  function look(name) {
    seen[name] = { status: $('status').textContent, detail: $('status-detail').textContent,
                   programs: $('programs-message').textContent,
                   proxy: $('proxy-message').textContent,
                   system: $('system-proxy-message').textContent };
    window.external.WriteFileContent(window.external.GetAppCurrentPath() + '/seen.json',
                                     JSON.stringify(seen));
  }
  function exists(name) {
    return window.external.FileExists(window.external.GetAppCurrentPath() + '/' + name);
  }
  var steps = STEPS;
  var i = 0;
  // A step that returns false is tried again a little later.
  (function next() {
    if (i >= steps.length) { look('done'); return; }
    if (steps[i]() === false) { setTimeout(next, 100); return; }
    i++;
    setTimeout(next, 400);
  })();
});
</script>
"""


def product_pages(steps):
    pages = {}
    res = os.path.join(ROOT, "res")
    for folder, _, files in os.walk(res):
        for name in files:
            rel = os.path.relpath(os.path.join(folder, name), res)
            if not rel.startswith("images"):
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    pages[rel] = f.read()
    pages["index.html"] = pages["index.html"].replace(
        "</body>", DRIVER.replace("STEPS", "[" + ",".join(
            f"function () {{ {s} }}" for s in steps) + "]") + "</body>")
    return pages


class PagesTest(E2ETest):
    WINDOW_MANAGER = True

    def start(self, steps, programs=()):
        m = self.morvil(product_pages(steps), extra_programs=programs)
        m.extra_env.update(XDG_CONFIG_HOME=os.path.join(m.root, "config"),
                           XDG_STATE_HOME=os.path.join(m.root, "state"),
                           GSETTINGS_BACKEND="keyfile")
        m.start()
        return m

    def ini(self, m):
        parser = configparser.ConfigParser()
        parser.read(os.path.join(m.root, "config", "morvil", "morvil.ini"))
        return parser

    def ask(self, m, *requests):
        return m.run_tool("acc-request", *requests).stdout.splitlines()

    def test_user_sets_up_and_starts_acceleration(self):
        m = self.start([
            "type('program', ''); click('add-program'); look('empty_name');",
            "type('program', 'Game.exe'); click('add-program'); look('added');",
            "type('program', 'other.exe'); click('add-program');",
            "type('server', '10.0.0.1'); type('port', 'eighty'); type('token', 'tk');"
            "click('save-proxy'); look('bad_port');",
            "type('port', '8080'); click('save-proxy'); look('saved');",
            "click('toggle');",
            "look('started');",
        ], programs=("Caddow.exe", "pellix.exe", "morvil-backend-service", "sorvan_lsp.so"))
        self.addCleanup(subprocess.run, ["pkill", "-f", os.path.join(m.root, "morvil-backend")])
        self.assertTrue(wait_until(lambda: "done" in (m.result("seen.json") or {}), timeout=40))
        seen = m.result("seen.json")
        self.assertIn("Enter a program name", seen["empty_name"]["programs"])
        self.assertIn("Added Game.exe", seen["added"]["programs"])
        self.assertIn("port must be a number", seen["bad_port"]["proxy"])
        self.assertEqual(seen["saved"]["proxy"], "Saved.")
        self.assertEqual(seen["started"]["status"], "Accelerating", seen["started"])
        self.assertIn("2 programs through 10.0.0.1:8080", seen["started"]["detail"])
        ini = self.ini(m)
        self.assertEqual(ini["acc"]["processes"], "Game.exe,other.exe")
        self.assertEqual((ini["acc"]["server"], ini["acc"]["port"], ini["acc"]["token"]),
                         ("10.0.0.1", "8080", "tk"))
        self.assertEqual(ini["acc"]["enabled"], "1")
        self.assertEqual(self.ask(m, "RequestAcc,1,C:\\Games\\GAME.EXE",
                                  "RequestAcc,2,/usr/bin/curl"),
                         ["1,10.0.0.1,8080,tk", "0,10.0.0.1,8080,tk"])
        installed = os.path.join(m.root, "state", "morvil", "lsp-installed")
        self.assertTrue(os.path.exists(installed))

    def test_failed_start_is_explained_and_loses_nothing(self):
        # No backend service or starter beside the program.
        m = self.start([
            "type('program', 'game.exe'); click('add-program');",
            "type('server', '10.0.0.2'); type('port', '1080'); type('token', 't');"
            "click('save-proxy');",
            "click('toggle');",
            "look('failed');",
        ])
        self.assertTrue(wait_until(lambda: "done" in (m.result("seen.json") or {}), timeout=40))
        seen = m.result("seen.json")
        self.assertEqual(seen["failed"]["status"], "Acceleration could not start")
        self.assertIn("backend service", seen["failed"]["detail"])
        ini = self.ini(m)
        self.assertEqual((ini["acc"]["processes"], ini["acc"]["enabled"]), ("game.exe", "0"))
        self.assertEqual(self.ask(m, "RequestAcc,1,/x/game.exe"), ["0,10.0.0.2,1080,t"])

    def service_connections(self, m):
        """How many connections the program holds to the backend service."""
        lines = subprocess.run(["ss", "-xpnH"], capture_output=True, text=True).stdout.splitlines()
        # Each line: type state recv-q send-q [local] inode peer peer-inode users:(...), where a
        # client socket has "*" as its local name and a served one its listener's.
        served = {f[-4] for f in (line.split() for line in lines)
                  if len(f) >= 8 and '"morvil-backend-"' in f[-1]}
        pid = f"pid={m.procs[0].pid},"
        return sum(1 for f in (line.split() for line in lines)
                   if len(f) >= 8 and f[-2] in served and pid in f[-1])

    def test_start_after_a_refused_start_works(self):
        # The first start: the installer finds no network-stack library beside it and fails, so
        # the service answers with its exit code.
        m = self.start([
            "type('program', 'game.exe'); click('add-program');",
            "type('server', '10.0.0.3'); type('port', '1080'); type('token', '');"
            "click('save-proxy');",
            "click('toggle');",
            "look('refused');",
            "return exists('sorvan_lsp.so');",
            "click('toggle');",
            "look('started');",
        ], programs=("Caddow.exe", "pellix.exe", "morvil-backend-service"))
        self.addCleanup(subprocess.run, ["pkill", "-f", os.path.join(m.root, "morvil-backend")])
        self.assertTrue(wait_until(lambda: "refused" in (m.result("seen.json") or {}), timeout=40))
        self.assertEqual(m.result("seen.json")["refused"]["status"], "Acceleration could not start")
        # The page closed what the refused start left open.
        self.assertTrue(wait_until(lambda: self.service_connections(m) == 0, timeout=10))
        shutil.copy2(os.path.join(BIN_DIR, "sorvan_lsp.so"), m.root)
        self.assertTrue(wait_until(lambda: "done" in (m.result("seen.json") or {}), timeout=40))
        seen = m.result("seen.json")
        self.assertEqual(seen["started"]["status"], "Accelerating", seen["started"])
        self.assertEqual(self.ini(m)["acc"]["enabled"], "1")
        # Without a token the proxy is used without authentication.
        self.assertEqual(self.ask(m, "RequestAcc,1,C:\\Games\\game.exe"), ["1,10.0.0.3,1080,"])

    def test_system_proxy_switch(self):
        m = self.start([
            "$('system-proxy').click(); look('no_url');",
            "type('pac-url', 'http://127.0.0.1:8000/proxy.pac'); $('system-proxy').click();"
            "look('on');",
        ])
        self.assertTrue(wait_until(lambda: "done" in (m.result("seen.json") or {}), timeout=40))
        seen = m.result("seen.json")
        self.assertIn("PAC", seen["no_url"]["system"])
        self.assertIn("automatic proxy configuration", seen["on"]["system"])
        env = dict(m.env(), XDG_CONFIG_HOME=os.path.join(m.root, "config"),
                   GSETTINGS_BACKEND="keyfile")
        mode = subprocess.run(["gsettings", "get", "org.gnome.system.proxy", "mode"], env=env,
                              capture_output=True, text=True).stdout.strip()
        self.assertEqual(mode, "'auto'")


class PagesTrayTest(OnPrivateBusTest):
    """The main page in the notification area, with the tray test peer as the desktop's tray."""

    def test_close_to_tray_open_again_and_exit_from_its_menu(self):
        m = self.morvil(product_pages(["look('loaded');", "click('close'); look('closed');"]))
        m.extra_env.update(XDG_CONFIG_HOME=os.path.join(m.root, "config"))
        proc = m.start()
        self.assertTrue(wait_until(lambda: "done" in (m.result("seen.json") or {}), timeout=40))
        wid = m.find_window()
        self.assertTrue(wait_until(lambda: not m.info(wid).viewable), "closing did not hide")
        item = wait_until(lambda: [l.split("\t")[2] for l in self.bus.lines()
                                   if l.startswith("item\t")])
        self.assertTrue(item, self.bus.lines())
        service = item[0]
        layout = self.bus.call(service, "/MenuBar", "com.canonical.dbusmenu.GetLayout",
                               "0", "10", "@as []")
        self.assertEqual(re.findall(r"'label': <'([^']*)'>", layout), ["Open", "Exit"], layout)
        ids = [int(i) for i in re.findall(r"\((\d+), \{'label'", layout)]
        self.bus.call(service, "/MenuBar", "com.canonical.dbusmenu.Event", str(ids[0]),
                      "clicked", "<0>", "0")
        self.assertTrue(wait_until(lambda: m.info(wid).viewable), "Open did not show the window")
        self.bus.call(service, "/MenuBar", "com.canonical.dbusmenu.Event", str(ids[1]),
                      "clicked", "<0>", "0")
        self.assertEqual(proc.wait(20), 0)
