"""The tray icon on a private session bus with a test watcher and notification server, and the
tray methods where the desktop offers no tray at all."""

import os
import re
import subprocess
import tempfile

from harness import BIN_DIR, E2ETest, wait_until
from test_bridge import page

PEER = os.path.join(BIN_DIR, "..", "tests", "tray-test-peer")

TRAY_PAGE = page("""
    UI = { onUserMessage: function (c, v) {
        probe.put('event', [c, v]); probe.save('event.json'); } };
    ext.ShowTray('Morvil tip', 'Open,1001,Exit,1002');
    ext.ShowTip('Title', 'Text', 3000);
    ext.Hide();
    probe.save();""")


class PrivateSessionBus:
    """A dbus-daemon of the test's own with the test peer as the desktop's tray and notifier."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="morvil-bus-")
        self.daemon = subprocess.Popen(
            ["dbus-daemon", "--session", "--nofork", "--print-address=1",
             f"--address=unix:dir={self.dir}"], stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, text=True)
        self.address = self.daemon.stdout.readline().strip()
        self.log = os.path.join(self.dir, "peer.log")
        self.peer = subprocess.Popen([PEER, self.log], env=self.env())
        wait_until(lambda: "ready" in self.lines(), timeout=10)

    def env(self, base=None):
        env = dict(base or os.environ)
        env["DBUS_SESSION_BUS_ADDRESS"] = self.address
        env["NO_AT_BRIDGE"] = "1"  # no accessibility bus started on the private bus
        return env

    def lines(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return f.read().splitlines()
        except OSError:
            return []

    def call(self, dest, path, method, *args):
        result = subprocess.run(["gdbus", "call", "--session", "--dest", dest, "--object-path", path,
                               "--method", method, *args], env=self.env(), capture_output=True,
                              text=True, timeout=10)
        return result.stdout + result.stderr

    def close(self):
        for p in (self.peer, self.daemon):
            p.terminate()
            p.wait(5)


class OnPrivateBusTest(E2ETest):
    """Tests whose programs talk to the test peer on a private session bus."""

    def setUp(self):
        super().setUp()
        if not os.path.exists(PEER):
            self.skipTest("tray-test-peer is not built")
        self.bus = PrivateSessionBus()
        self.addCleanup(self.bus.close)

    def morvil(self, pages, **kw):
        m = super().morvil(pages, **kw)
        plain_env = m.env
        m.env = lambda: self.bus.env(plain_env())
        return m


class TrayOnTheDesktopTest(OnPrivateBusTest):
    def start_tray_page(self):
        """Starts the tray page: the program and the bus name of its tray item, once it shows."""
        m = self.morvil({"probe.js": "@probe.js", "index.html": TRAY_PAGE})
        m.start()
        self.assertIsNotNone(m.result())
        item = wait_until(lambda: [l.split("\t")[2] for l in self.bus.lines()
                                   if l.startswith("item\t")])
        self.assertTrue(item, self.bus.lines())
        return m, item[0]

    def test_icon_tooltip_activation_menu_choice_and_balloon(self):
        m, service = self.start_tray_page()
        tooltip = self.bus.call(service, "/StatusNotifierItem",
                                "org.freedesktop.DBus.Properties.Get",
                                "org.kde.StatusNotifierItem", "ToolTip")
        self.assertIn("'Morvil tip'", tooltip)

        # The balloon reaches the notification server with its title, text and time, and is
        # taken away once the tip timer has counted the time down.
        notify = [l for l in self.bus.lines() if l.startswith("notify\t")]
        self.assertEqual(len(notify), 1, self.bus.lines())
        self.assertEqual(notify[0].split("\t")[2:5], ["Title", "Text", "3000"])

        # The page hid its window; a click on the icon shows it again.
        wid = m.find_client()
        self.assertTrue(wait_until(lambda: not m.info(wid).viewable))
        self.bus.call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem.Activate",
                      "0", "0")
        self.assertTrue(wait_until(lambda: m.info(wid).viewable))

        layout = self.bus.call(service, "/MenuBar", "com.canonical.dbusmenu.GetLayout",
                               "0", "10", "@as []")
        labels = re.findall(r"'label': <'([^']*)'>", layout)
        self.assertEqual(labels, ["Open", "Exit"], layout)
        self.bus.call(service, "/MenuBar", "com.canonical.dbusmenu.Event", "2", "clicked",
                      "<0>", "0")
        self.assertEqual(m.result("event.json"), {"event": [1002, 0]})

        closed = wait_until(lambda: [l for l in self.bus.lines() if l.startswith("close\t")],
                            timeout=10)
        self.assertTrue(closed, self.bus.lines())

    def test_context_menu_opens_the_menu_at_the_pointer(self):
        m, service = self.start_tray_page()
        m.xdotool("mousemove", 700, 300)
        self.bus.call(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem.ContextMenu",
                      "700", "300")
        menu = m.popup_menu()
        self.assertIsNotNone(menu, "no menu opened")
        info = m.info(menu)
        self.assertTrue(abs(info.x - 700) < 50 and abs(info.y - 300) < 50, info.text)
        m.xdotool("key", "Down", "Down", "Return")
        self.assertEqual(m.result("event.json"), {"event": [1002, 0]})

    def test_icon_and_balloon_go_when_the_program_ends(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            ext.ShowTray('T', 'A,1'); ext.ShowTip('t', 'x', 60000); probe.save();
            setTimeout(function () { ext.CloseWindow(0); }, 500);""")})
        proc = m.start()
        self.assertIsNotNone(m.result())
        self.assertEqual(proc.wait(20), 0)
        self.assertTrue(any(l.startswith("close\t") for l in self.bus.lines()), self.bus.lines())
        service = [l.split("\t")[2] for l in self.bus.lines() if l.startswith("item\t")][0]
        owned = self.bus.call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus.NameHasOwner", service)
        self.assertIn("false", owned)


class TrayWithoutDesktopTest(E2ETest):
    def test_tray_calls_return_nothing_and_the_window_lives_on(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            probe.put('tray', String(ext.ShowTray('T', 'Open,1001,Exit,1002')));
            probe.put('tip', String(ext.ShowTip('title', 'text', 250)));
            probe.put('free', String(ext.FreeTray()));
            probe.put('again', String(ext.ShowTray('T', 'Settings,7')));
            setTimeout(function () { probe.put('alive', true); probe.save(); }, 600);""")})
        m.start()
        r = m.result()
        self.assertEqual(r, {"tray": "undefined", "tip": "undefined", "free": "undefined",
                             "again": "undefined", "alive": True})
