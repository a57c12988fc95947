"""Start-up: one instance per session, a frameless window fitted, clipped and centred to its page."""

import time

from harness import PRODUCT, E2ETest, PageServer, wait_until


def page(body, title=PRODUCT, head=""):
    return (f"<!DOCTYPE html><html><head><meta charset='utf-8'><title>{title}</title>"
            f"<style>body{{margin:0}}</style>{head}</head><body>{body}</body></html>")


# A 600 x 400 container well inside the page, with a decoy whose class only contains the name.
CONTAINER_PAGE = page(
    "<div style='height:83px'></div><div class='container extra' style='width:50px;height:50px'>"
    "</div><div style='margin-left:137px'><div class='CONTAINER' "
    "style='width:600px;height:400px;background:#246'></div></div>")


def wait_layout(m, wid, width, height):
    return wait_until(lambda: (lambda i: i if (i.width, i.height) == (width, height) else None)(
        m.info(wid)))


class StartupTest(E2ETest):
    def test_local_page_fits_clips_and_centres_on_its_container(self):
        m = self.morvil({"index.html": CONTAINER_PAGE})
        m.start()
        wid = m.find_window()
        self.assertIsNotNone(wid, "no window named after the page title")
        info = wait_layout(m, wid, 600, 400)
        self.assertIsNotNone(info, m.info(wid).text)
        self.assertEqual((info.x, info.y), ((1920 - 600) // 2, (1080 - 400) // 2))
        self.assertEqual(m.shape_extents(wid), (0, 0, 600, 400))
        self.assertIn("_MOTIF_WM_HINTS", m.run_x("xprop", "-id", wid))  # frameless
        self.assertTrue(wait_until(lambda: m.opacity(wid) is None), "never turned opaque")

    def test_page_without_container_gets_400_by_300(self):
        m = self.morvil({"index.html": page("<p>no container here</p>")})
        m.start()
        wid = m.find_window()
        info = wait_layout(m, wid, 400, 300)
        self.assertIsNotNone(info)
        self.assertEqual((info.x, info.y), (760, 390))
        self.assertEqual(m.shape_extents(wid), (0, 0, 400, 300))

    def test_nothing_of_the_window_is_seen_before_its_layout(self):
        # The page's load waits for a slow image, so the window waits for its layout meanwhile.
        # There is no compositor here: a transparent window would be seen whole.
        server = PageServer({}, delay=3.0)
        self.addCleanup(server.close)
        m = self.morvil({"index.html": page(
            f"<div class='container' style='width:300px;height:200px'></div>"
            f"<img src='{server.url('/slow/img')}'>")})
        m.start()
        wid = m.find_client()
        self.assertIsNotNone(wid)
        samples = []
        deadline = time.monotonic() + 8
        while time.monotonic() < deadline:
            info = m.info(wid)
            if not info.viewable:
                continue
            samples.append(((info.width, info.height), m.opacity(wid)))
            if samples[-1] == ((300, 200), None):
                break
        self.assertTrue(samples, "never shown")
        self.assertEqual(samples[-1], ((300, 200), None), "never laid out and opaque")
        self.assertFalse([s for s in samples if s[0] != (300, 200)], "seen before the layout")

    def test_remote_page_keeps_its_size_and_is_clipped_to_its_container(self):
        server = PageServer({"/remote.html": page(
            "<div style='height:50px'></div><div class='container' "
            "style='margin-left:70px;width:320px;height:240px;background:#a33'></div>",
            title="Remote")})
        self.addCleanup(server.close)
        # A local page as big as the screen hands over to the remote page.
        m = self.morvil({"index.html": page(
            f"<div class='container' style='width:1920px;height:1080px'></div>"
            f"<script>window.onload=function(){{setTimeout(function(){{"
            f"location.href='{server.url('/remote.html')}';}},50);}};</script>",
            title="Local")})
        m.start()
        wid = m.find_window("Remote")
        self.assertIsNotNone(wid)
        info = wait_until(lambda: (lambda i: i if i.viewable else None)(m.info(wid)))
        self.assertIsNotNone(info, "never shown")
        self.assertEqual((info.width, info.height), (1920, 1080))
        self.assertEqual(m.shape_extents(wid), (70, 50, 320, 240))
        # The container, not the window, is centred.
        self.assertEqual((info.x, info.y), ((1920 - 320) // 2 - 70, (1080 - 240) // 2 - 50))


    def test_second_start_is_not_misled_by_a_tray_icon_of_the_same_name(self):
        # Without a desktop tray the icon is a small window of its own that carries the tool-tip
        # (here the product name) as its name; it is no top-level window to bring up.
        m = self.morvil({"probe.js": "@probe.js", "index.html": CONTAINER_PAGE.replace(
            "</body>", "<script src='probe.js'></script>"
                       "<script>window.onload = function () { setTimeout(function () {"
                       "window.external.ShowTray('Morvil Accelerator', 'Open,1');"
                       "window.external.Hide(); probe.save('hidden.json'); }, 300); };"
                       "</script></body>")})
        m.start()
        wid = m.find_window()
        # A window is not on the screen before its layout either: wait for the page's Hide.
        self.assertIsNotNone(m.result("hidden.json"))
        self.assertTrue(wait_until(lambda: not m.info(wid).viewable))
        self.assertEqual(m.start().wait(15), 0)
        self.assertTrue(wait_until(lambda: m.info(wid).viewable, timeout=5))


class TrayAndSecondStartTest(E2ETest):
    WINDOW_MANAGER = True

    def test_tray_start_never_shows_and_has_no_taskbar_button(self):
        m = self.morvil({"index.html": CONTAINER_PAGE})
        m.start("tray")
        wid = m.find_client()
        self.assertIsNotNone(wid)
        # Never mapped, not even transparent (without a compositor that would show it), until
        # the start is over: laid out, titled and opaque.
        seen = []

        def started():
            seen.append(m.info(wid).viewable)
            return m.opacity(wid) is None and PRODUCT in m.prop(wid, "WM_NAME")
        self.assertTrue(wait_until(started, interval=0.01), "the start never ended")
        self.assertFalse(any(seen) or m.info(wid).viewable, "the window was shown")
        self.assertEqual(m.run_x("xprop", "-id", wid, "WM_NAME").split("=")[1].strip(),
                         f'"{PRODUCT}"')

    def test_tray_counts_only_as_the_exact_first_argument(self):
        for args in (["TRAY"], ["x", "tray"]):
            with self.subTest(args=args):
                m = self.morvil({"index.html": CONTAINER_PAGE})
                proc = m.start(*args)
                wid = m.find_window()
                self.assertTrue(wait_until(lambda: m.opacity(wid) is None and m.info(wid).viewable))
                proc.kill()
                proc.wait()

    def test_second_start_brings_up_the_hidden_first_window_and_exits(self):
        m = self.morvil({"index.html": CONTAINER_PAGE})
        m.start("tray")
        wid = m.find_window()
        self.assertTrue(wait_until(lambda: not m.info(wid).viewable and m.opacity(wid) is None))
        second = m.start()
        self.assertEqual(second.wait(15), 0)
        self.assertTrue(wait_until(lambda: m.info(wid).viewable, timeout=5))
        self.assertEqual(len(m.find_windows()), 1)
