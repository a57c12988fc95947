"""The tray methods without a desktop tray: the calls return and the page goes on."""

from harness import E2ETest
from test_bridge import page


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
