"""Page windows on a desktop with a window manager: dragging, modal runs, effects and the
keyboard, layout while the page waits in a call, scaled screens and two monitors."""

import os
import re
import subprocess

from harness import PRODUCT, E2ETest, XServer, probe_page as page, wait_until


def viewable_info(m, wid, timeout=15.0):
    """The window's geometry once it is on the screen."""
    return wait_until(lambda: (lambda i: i if i.viewable else None)(m.info(wid)), timeout)


def active_window(m):
    m_ = re.search(r"window id # (0x[0-9a-f]+)", m.run_x("xprop", "-root", "_NET_ACTIVE_WINDOW"))
    return int(m_.group(1), 16) if m_ else 0


class OnADesktopTest(E2ETest):
    WINDOW_MANAGER = True

    def xdotool(self, m, *args):
        m.xdotool(*args)

    def test_drag_moves_only_while_the_button_is_held(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            var calls = 0;
            document.querySelector('.container').onmousedown = function () {
              ext.DrapAndDrop();
              probe.put('returned', ++calls); probe.save();
            };
            probe.save('ready.json');""")})
        m.start()
        self.assertIsNotNone(m.result("ready.json"))
        wid = m.find_window()
        start = viewable_info(m, wid)
        x0, y0 = start.x, start.y
        where = lambda: (lambda i: (i.x, i.y))(m.info(wid))

        # A click: the call returns at once and the window stays where it is.
        self.xdotool(m, "mousemove", x0 + 150, y0 + 100, "click", 1)
        self.assertTrue(wait_until(lambda: (m.result(timeout=0.1) or {}).get("returned") == 1))
        self.xdotool(m, "mousemove_relative", "--", 200, 100)
        self.assertIsNone(wait_until(lambda: where() != (x0, y0), timeout=1.5),
                          "a click glued the window to the pointer")

        # A drag: the window follows while the button is held; the call returns on release.
        self.xdotool(m, "mousemove", x0 + 150, y0 + 100, "mousedown", 1)
        self.xdotool(m, "mousemove_relative", "--", 100, 50)
        self.assertTrue(wait_until(lambda: where() == (x0 + 100, y0 + 50)), where())
        self.assertEqual(m.result()["returned"], 1, "the call returned while the button was held")
        self.xdotool(m, "mouseup", 1)
        self.assertTrue(wait_until(lambda: (m.result(timeout=0.1) or {}).get("returned") == 2))
        self.xdotool(m, "mousemove_relative", "--", 120, 80)
        self.assertIsNone(wait_until(lambda: where() != (x0 + 100, y0 + 50), timeout=1.5),
                          "the window went on moving after the release")

    def test_a_modal_run_disables_only_its_owner(self):
        m = self.morvil({
            "probe.js": "@probe.js",
            "index.html": page("""
                document.body.onmousedown = function () { probe.put('owner', 1); probe.save('owner.json'); };
                ext.NewInstance(0, 'other.html', '.container');
                ext.Move(1500, 800);
                ext.CreateSplitWeb('frame.html', '.container', 'body.html', '.container', 'T');"""),
            "other.html": page("""
                document.body.onmousedown = function () { probe.put('other', 1); probe.save('other.json'); };
                ext.Move(0, 0);  // out from under the split window, which stays on top
                probe.save('other-ready.json');""",
                               title="Other", size=(200, 100)),
            "frame.html": page("", title="Frame", size=(100, 100)),
            "body.html": page("""
                document.getElementById('i').oninput = function () {
                  probe.put('typed', this.value); probe.save('body.json'); };
                probe.save('body-ready.json');""",
                              title="Body", size=(300, 200),
                              extra="<input id='i' style='position:absolute;left:20px;top:20px'>"),
        })
        m.start()
        self.assertIsNotNone(m.result("body-ready.json"))
        self.assertIsNotNone(m.result("other-ready.json"))
        body = m.find_window("Body")
        other = m.find_window("Other")
        self.assertIsNotNone(body)
        self.assertIsNotNone(other)
        b = viewable_info(m, body)
        self.assertIsNotNone(b)
        self.xdotool(m, "mousemove", b.x + 40, b.y + 30, "click", 1)
        self.xdotool(m, "type", "--delay", 50, "abc")
        self.assertEqual(m.result("body.json"), {"typed": "abc"})

        o = wait_until(lambda: (lambda i: i if (i.x, i.y) == (0, 0) else None)(m.info(other)))
        self.assertIsNotNone(o)
        self.xdotool(m, "mousemove", o.x + 100, o.y + 50, "click", 1)
        self.assertEqual(m.result("other.json"), {"other": 1})

        # The owner takes no click while the split window runs.
        owner = m.find_window()
        w = m.info(owner)
        self.xdotool(m, "mousemove", w.x + 5, w.y + 5, "click", 1)
        self.assertIsNone(m.result("owner.json", timeout=1.5))

    def test_effect_steps_leave_the_active_window_alone(self):
        m = self.morvil({
            "probe.js": "@probe.js",
            "index.html": page("ext.NewInstance(0, 'notify.html', '.container');"),
            "notify.html": page("""
                probe.save('notify.json');
                var wait = setInterval(function () {
                  if (!ext.FileExist(ext.GetAppCurrentPath() + '/go')) return;
                  clearInterval(wait);
                  ext.ShowEffect('1000,40,1,2,4');
                }, 50);""", title="Notify", size=(200, 100)),
        })
        m.start()
        self.assertIsNotNone(m.result("notify.json"))
        main, notify = m.find_window(), m.find_window("Notify")
        self.assertIsNotNone(viewable_info(m, notify))
        self.xdotool(m, "windowactivate", "--sync", main)
        self.assertTrue(wait_until(lambda: active_window(m) == int(main, 16)))
        open(os.path.join(m.root, "go"), "w").close()
        # The slide ends with the window's right edge at the work area's (1920, no panel here).
        seen = set()

        def slid_in():
            seen.add(active_window(m))
            i = m.info(notify)
            return i.x + 200 == 1920 and i.y + 100 == 1080
        self.assertTrue(wait_until(slid_in, interval=0.01), m.info(notify).text)
        seen.add(active_window(m))
        self.assertEqual(seen, {int(main, 16)}, "a step of the effect took the focus")

    def test_modal_window_opened_at_load_lays_out_both_windows(self):
        m = self.morvil({
            "probe.js": "@probe.js",
            "index.html": (
                f"<!DOCTYPE html><html><head><title>{PRODUCT}</title><script src='probe.js'>"
                "</script><style>body{margin:0}</style></head><body>"
                "<div style='height:40px'></div>"
                "<div class='container' style='width:300px;height:200px'></div><script>"
                "window.onload = function () {"
                "  probe.put('code', window.external.NewInstance(1, 'child.html', '.container'));"
                "  probe.save(); };</script></body></html>"),
            "child.html": page("probe.save('child.json');", title="Child", size=(200, 100)),
        })
        m.start()
        self.assertIsNotNone(m.result("child.json"))
        main = m.find_window(timeout=5)
        self.assertIsNotNone(main, "the opener was never laid out (no title)")
        info = viewable_info(m, main)
        self.assertEqual((info.width, info.height), (300, 200))
        self.assertEqual((info.x, info.y), ((1920 - 300) // 2, (1080 - 200) // 2))
        child = viewable_info(m, m.find_window("Child"))
        self.assertEqual((child.x, child.y), ((1920 - 200) // 2, (1080 - 100) // 2))


class SmallSlipsTest(E2ETest):
    def test_program_folder_with_url_characters_and_titles_in_any_case(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            var me = ext.FindWindowByName(document.title);
            probe.put('found', me !== 0);
            probe.put('any_case', ext.FindWindowByName(document.title.toUpperCase()) === me);
            probe.save();""")}, folder="a#b?c%20d")
        m.start()
        self.assertEqual(m.result(), {"found": True, "any_case": True})


class EndlessEffectTest(E2ETest):
    def test_memory_stays_flat_for_an_endless_effect(self):
        # "-1" is 4294967295 ms: a hundred million steps of 30 ms, taken one at a time.
        m = self.morvil({"probe.js": "@probe.js", "index.html": page(
            "ext.ShowEffect('-1,30,0,0,4,100,255'); probe.save();")})
        proc = m.start()
        self.assertIsNotNone(m.result())
        wid = m.find_window()
        # The first step has run: the window is at the first step's alpha.
        self.assertTrue(wait_until(lambda: abs((m.opacity(wid) or 1.0) - 100 / 255) < 0.01))
        with open(f"/proc/{proc.pid}/status") as f:
            peak = int(re.search(r"VmHWM:\s+(\d+) kB", f.read()).group(1))
        self.assertLess(peak, 600 * 1024, f"peak resident memory {peak} kB")


class TrayIconInTheXEmbedTrayTest(E2ETest):
    """A panel with an XEmbed system tray and no StatusNotifier watcher."""

    def test_right_click_opens_the_menu_at_the_pointer(self):
        panel = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--height", "32",
                                  "--widthtype", "pixel", "--width", "200"], env=self.x.env(),
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (panel.terminate(), panel.wait(5)))
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            UI = { onUserMessage: function (c, v) { probe.put('event', [c, v]); probe.save('event.json'); } };
            ext.ShowTray('Tray tip', 'Open,1001,Exit,1002');
            probe.save();""")})
        m.start()
        self.assertIsNotNone(m.result())

        def icon():
            for line in m.run_x("xwininfo", "-root", "-tree").splitlines():
                found = re.match(r'\s*(0x[0-9a-f]+) "Tray tip":', line)
                if found and "_XEMBED_INFO(" in m.prop(found.group(1), "_XEMBED_INFO"):
                    i = m.info(found.group(1))
                    return i if i.viewable else None
            return None
        at = wait_until(icon)
        self.assertIsNotNone(at, "the icon never entered the tray")
        m.xdotool("mousemove", at.x + at.width // 2, at.y + at.height // 2, "click", 3)
        self.assertIsNotNone(m.popup_menu(), "no menu opened")
        m.xdotool("key", "Down", "Down", "Return")
        self.assertEqual(m.result("event.json"), {"event": [1002, 0]})


class GeometryTest(E2ETest):
    """One unit throughout, on scaled screens; the primary monitor as the desktop."""

    def test_size_clip_and_centre_at_scale_1_and_2(self):
        for scale in (1, 2):
            with self.subTest(scale=scale):
                m = self.morvil({"probe.js": "@probe.js",
                                 "index.html": page("ext.SetWindowRound(0, 0, 0); probe.save();")})
                m.extra_env["GDK_SCALE"] = str(scale)
                proc = m.start()
                self.assertIsNotNone(m.result())
                wid = m.find_window()
                info = viewable_info(m, wid)
                w, h = 300 * scale, 200 * scale
                self.assertEqual((info.width, info.height), (w, h))
                self.assertEqual((info.x, info.y), ((1920 - w) // 2, (1080 - h) // 2))
                self.assertEqual(m.shape_extents(wid), (0, 0, w, h))
                proc.kill()
                proc.wait()


class TwoScreensSideBySide(XServer):
    """Xephyr inside the test's X server: two monitors, 1920 x 1080 (the primary) and
    1280 x 1024 to its right, one desktop 3200 pixels wide."""

    def __init__(self, host):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xephyr", "-displayfd", str(write_fd), "-screen", "1920x1080", "-screen", "1280x1024",
             "+xinerama", "-nolisten", "tcp"], env=host.env(), pass_fds=(write_fd,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as f:
            self.display = ":" + f.readline().strip()
        self.wm = None


class TwoMonitorsTest(E2ETest):
    def test_the_desktop_is_the_primary_monitor(self):
        nested = TwoScreensSideBySide(self.x)
        self.addCleanup(nested.close)
        self.x = nested
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("probe.save();")})
        m.start()
        self.assertIsNotNone(m.result())
        info = viewable_info(m, m.find_window())
        # Centred on the primary monitor, not across the seam of the 3200-pixel screen.
        self.assertEqual((info.x, info.y), ((1920 - 300) // 2, (1080 - 200) // 2))
