"""Window effects read back from the X server, and split windows assembled from two pages."""

import ctypes
import os

from harness import PRODUCT, E2ETest, wait_until
from test_bridge import page

FRAME_PAGE = """<!DOCTYPE html><html><head><meta charset='utf-8'><title>frame</title>
<script src='probe.js'></script><style>body{margin:0}</style></head><body>
<div class='container' style='width:100px;height:100px'><div class='title'>old</div></div>
<script>
function $(sel) { var e = document.querySelector(sel);
  return { css: function (n, v) { if (e) e.style[n] = v; },
           text: function (v) { if (e) e.textContent = v; } }; }
var ext = window.external;
setTimeout(function () {
  var c = document.querySelector('.container');
  probe.put('container', [c.style.width, c.style.height]);
  probe.put('title', document.querySelector('.title').textContent);
  probe.put('hacked', window.hacked === true);
  probe.save('frame.json');
}, 1500);
setTimeout(function () { ext.CloseWindow(7); }, 5000);
</script></body></html>"""

BODY_PAGE = """<!DOCTYPE html><html><head><meta charset='utf-8'><title>body</title>
<style>body{margin:0}</style></head><body>
<div class='box' style='width:500px;height:300px'></div>
<script>window.external.SetWindowRound(40, 0, 0);</script></body></html>"""


class _XRectangle(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort)]


def shape_rectangles(display, wid):
    """The rectangles of a window's bounding shape (one for a plain rectangle)."""
    x11 = ctypes.CDLL("libX11.so.6")
    xext = ctypes.CDLL("libXext.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xext.XShapeGetRectangles.restype = ctypes.POINTER(_XRectangle)
    xext.XShapeGetRectangles.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                         ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
    dpy = x11.XOpenDisplay(display.encode())
    count, ordering = ctypes.c_int(), ctypes.c_int()
    rects = xext.XShapeGetRectangles(dpy, int(wid, 16), 0, ctypes.byref(count),
                                     ctypes.byref(ordering))
    out = [(rects[i].x, rects[i].y, rects[i].width, rects[i].height) for i in range(count.value)]
    if rects:
        x11.XFree(rects)
    x11.XCloseDisplay(dpy)
    return out


class EffectTest(E2ETest):
    def run_effect(self, effect, boxes=None):
        log = None
        m = self.morvil({"probe.js": "@probe.js", "index.html": page(
            f"ext.ShowEffect('{effect}'); probe.save();")})
        if boxes is not None:
            log = os.path.join(m.root, "boxes.log")
            os.environ["MORVIL_MESSAGE_BOX_LOG"] = log
            self.addCleanup(os.environ.pop, "MORVIL_MESSAGE_BOX_LOG", None)
        m.start()
        self.assertIsNotNone(m.result())
        return m, m.find_window(), log

    def test_fade_in_at_the_bottom_right_corner_ends_opaque(self):
        m, wid, _ = self.run_effect("300,30,0,0,4,0,255")
        at = wait_until(lambda: (lambda i: (i.x, i.y) == (1620, 880) and i)(m.info(wid)))
        self.assertTrue(at, m.info(wid).text)
        self.assertTrue(wait_until(lambda: m.opacity(wid) in (None, 1.0)))

    def test_fade_out_ends_transparent(self):
        m, wid, _ = self.run_effect("200,40,0,0,1,255,0")
        self.assertTrue(wait_until(lambda: m.opacity(wid) == 0.0), m.prop(wid, "_NET_WM_WINDOW_OPACITY"))
        info = m.info(wid)
        self.assertEqual((info.x, info.y), (0, 0))

    def test_horizontal_reveal_ends_whole_in_the_corner(self):
        m, wid, _ = self.run_effect("500,25,1,2,4")
        self.assertTrue(wait_until(lambda: (lambda i: (i.x, i.y) == (1620, 880))(m.info(wid))),
                        m.info(wid).text)

    def test_vertical_collapse_at_the_top_left_rolls_up_to_nothing(self):
        m, wid, _ = self.run_effect("200,25,1,1,1")
        self.assertTrue(wait_until(lambda: shape_rectangles(self.x.display, wid) == []),
                        shape_rectangles(self.x.display, wid))
        info = m.info(wid)
        self.assertEqual((info.x, info.y), (0, 0))

    def test_fade_with_five_fields_shows_the_count_message_and_changes_nothing(self):
        m, wid, log = self.run_effect("300,30,0,0,4", boxes=True)
        self.assertTrue(wait_until(lambda: os.path.exists(log)))
        with open(log, encoding="utf-8") as f:
            self.assertIn("渐变参数个数应是7个", f.read())
        info = m.info(wid)
        self.assertEqual((info.x, info.y), (810, 440))

    def assert_untouched(self, effect):
        m, wid, _ = self.run_effect(effect)
        info = m.info(wid)
        self.assertEqual((info.x, info.y), (810, 440))

    def test_kind_two_does_nothing(self):
        self.assert_untouched("300,30,2,0,4")

    def test_fewer_than_five_fields_do_nothing(self):
        self.assert_untouched("300,30,0")


class SplitWindowTest(E2ETest):
    def test_body_inside_a_centred_frame_and_the_close_code_comes_back(self):
        m = self.morvil({"probe.js": "@probe.js", "frame.html": FRAME_PAGE,
                         "body.html": BODY_PAGE, "index.html": page(
                             "setTimeout(function(){"
                             "var r = ext.CreateSplitWeb('frame.html', '.container', "
                             "'body.html', '.box', \"It's <b>'); window.hacked=true;//\");"
                             "probe.put('code', r); probe.save();}, 10);")})
        m.start()
        frame = m.find_window("frame")
        body = m.find_window("body")
        self.assertTrue(frame and body)
        self.assertTrue(wait_until(lambda: m.info(frame).width == 502))
        f, b = m.info(frame), m.info(body)
        self.assertEqual((f.width, f.height), (502, 331))
        self.assertEqual((f.x, f.y), ((1920 - 502) // 2, (1080 - 331) // 2))
        self.assertEqual((b.x, b.y), (f.x + 1, f.y + 30))
        # The body's rounded corners were applied to the frame: its top row is cut short.
        frame_shape = shape_rectangles(self.x.display, frame)
        self.assertGreater(len(frame_shape), 1, frame_shape)
        self.assertGreater(min(r[0] for r in frame_shape if r[1] == 0), 0, frame_shape)
        r = m.result("frame.json")
        self.assertEqual(r["container"], ["500px", "329px"])
        self.assertEqual(r["title"], "It's <b>'); window.hacked=true;//")
        self.assertFalse(r["hacked"])

        # Moving the frame from outside (as a drag does) takes the body along.
        m.run_x("xdotool", "windowmove", str(int(frame, 16)), str(f.x + 50), str(f.y))
        self.assertTrue(wait_until(lambda: m.info(body).x == f.x + 51), m.info(body).text)
        self.assertEqual(m.info(body).y, f.y + 30)

        self.assertEqual(m.result(timeout=30), {"code": 7})
