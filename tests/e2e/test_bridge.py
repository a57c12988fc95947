"""Page script driving its window through window.external, and page events back into the page."""

import os
import signal
import time
import unittest

from harness import PRODUCT, E2ETest, PageServer, probe_page as page, wait_until

S_FALSE = 1
E_ACCESSDENIED = -2147024891
DISP_E_TYPEMISMATCH = -2147352571
DISP_E_UNKNOWNNAME = -2147352570
DISP_E_BADPARAMCOUNT = -2147352562
DISP_E_PARAMNOTOPTIONAL = -2147352561


class BridgeTest(E2ETest):
    def test_calls_convert_arguments_and_report_errors(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            var odd = 'a\\ud800b\\udc00c\\u0000d\\ud83d\\ude00';
            ext.InsertPair('odd', odd);
            probe.put('roundtrip', ext.GetPair('odd') === odd);
            probe.put('name_case', probe.call(function () { return ext.GETCURRWINDOWTEXT(); }));
            probe.put('one_arg', probe.call(function () { return ext.Move(5); }));
            probe.put('three_args', probe.call(function () { return ext.Move(1, 2, 3); }));
            probe.put('not_number', probe.call(function () { return ext.Move('abc', 1); }));
            probe.put('unknown', probe.call(function () { return ext.NoSuchMethod(); }));
            probe.put('no_result', probe.call(function () { return ext.FreeTray(); }));
            probe.put('visible', ext.IsWindowVisible());
            probe.put('none', typeof ext.Hide === 'function' ? String(ext.Show(1)) : 'x');
            probe.put('bool_from_number', ext.FileExist(ext.GetAppCurrentPath() + '/res/probe.js'));
            ext.Move('10', '20');
            probe.save();""")})
        m.start()
        r = m.result()
        self.assertIsNotNone(r, "the page saved nothing")
        self.assertTrue(r["roundtrip"], r)
        self.assertEqual(r["name_case"], {"ok": PRODUCT})
        self.assertEqual(r["one_arg"]["err"], DISP_E_PARAMNOTOPTIONAL)
        self.assertEqual(r["three_args"]["err"], DISP_E_BADPARAMCOUNT)
        self.assertEqual(r["not_number"]["err"], DISP_E_TYPEMISMATCH)
        self.assertEqual(r["unknown"]["err"], DISP_E_UNKNOWNNAME)
        self.assertEqual(r["no_result"], {})  # {ok: undefined} in JSON
        self.assertIs(r["visible"], True)
        self.assertIs(r["bool_from_number"], True)
        self.assertEqual(r["none"], "undefined")
        wid = m.find_window()
        info = m.info(wid)
        # Numeric strings moved it; the failed calls did not.
        self.assertEqual((info.x, info.y), (10, 20))

    def test_window_methods_change_the_window(self):
        m = self.morvil({"probe.js": "@probe.js",
                         "index.html": page("""
            ext.SetSize(321, 123);
            ext.SetTransparent(128 + 256);
            ext.SetWindowRound(10, 1, 1);
            probe.put('step', 1); probe.save('one.json');
            setTimeout(function () {
              ext.Hide();
              probe.put('hidden', ext.IsWindowVisible()); ext.Show(1);
              probe.put('shown', ext.IsWindowVisible());
              ext.CenterOnParent();
              probe.save('two.json');
            }, 1500);"""),
                         "next.html": page("probe.save('three.json');", title="Next")})
        m.start()
        self.assertIsNotNone(m.result("one.json"))
        wid = m.find_window()
        self.assertTrue(wait_until(lambda: (m.info(wid).width, m.info(wid).height) == (321, 123)))
        self.assertAlmostEqual(m.opacity(wid), 128 / 255, places=2)
        self.assertEqual(m.shape_extents(wid), (0, 0, 301, 201))
        two = m.result("two.json")
        self.assertEqual((two["hidden"], two["shown"]), (False, True))
        # Without a parent page window, centring on the parent centres on the screen.
        info = m.info(wid)
        self.assertEqual((info.x, info.y), ((1920 - 300) // 2, (1080 - 200) // 2))

    def test_round_corners_are_kept_by_the_next_layout(self):
        m = self.morvil({"probe.js": "@probe.js",
                         "index.html": page("ext.SetWindowRound(10, 1, 1);"
                                            "location.href = 'next.html';"),
                         "next.html": page("probe.save('next.json');", title="Next",
                                           size=(200, 100))})
        m.start()
        self.assertIsNotNone(m.result("next.json"))
        wid = m.find_window("Next")
        self.assertEqual(m.shape_extents(wid), (0, 0, 201, 101))

    def test_new_instance_modal_returns_the_childs_code_and_modeless_returns_zero(self):
        m = self.morvil({
            "probe.js": "@probe.js",
            "index.html": page("""
                probe.put('modal', ext.NewInstance(1, 'child.html', '.container'));
                probe.put('modeless', ext.NewInstance(0, 'other.html', '.container'));
                probe.save();""", size=(600, 400)),
            "child.html": page("setTimeout(function () { ext.CloseWindow(5); }, 700);",
                               title="Child", size=(200, 100)),
            "other.html": page("setTimeout(function () { ext.CloseWindow(9); }, 700);",
                               title="Other", size=(100, 50)),
        })
        m.start()
        child = m.find_window("Child")
        self.assertIsNotNone(child)
        info = wait_until(lambda: (lambda i: i if i.viewable else None)(m.info(child)))
        self.assertIsNotNone(info, "the child was never shown")
        # Centred on the parent's container, which is centred on the screen.
        self.assertEqual((info.x, info.y), ((1920 - 200) // 2, (1080 - 100) // 2))
        r = m.result()
        self.assertEqual(r, {"modal": 5, "modeless": 0})
        other = m.find_window("Other")
        self.assertIsNotNone(other)
        self.assertTrue(wait_until(lambda: m.find_window("Other", timeout=0.1) is None),
                        "the modeless window did not close")
        self.assertIsNotNone(m.find_window())  # the main window lives on

    def test_page_events_are_delivered_and_queued_behind_a_running_call(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            var seen = [];
            window.UI = { onUserMessage: function (code, value) {
              seen.push('event ' + code + ',' + value);
              if (code === 7) { probe.put('seen', seen); probe.save(); }
            } };
            var me = ext.FindWindowByName(document.title);
            probe.put('own_handle', me !== 0);
            seen.push('before');
            probe.put('send_result', ext.SendMessage(me, 1125, 1, 2));
            seen.push('after');
            probe.put('post_result', ext.PostMessage(me, 1125, 7, -3));""")})
        m.start()
        r = m.result()
        self.assertIsNotNone(r)
        self.assertTrue(r["own_handle"])
        self.assertEqual(r["send_result"], 0)
        self.assertNotEqual(r["post_result"], 0)
        self.assertEqual(r["seen"], ["before", "after", "event 1,2", "event 7,-3"])

    def test_page_event_before_any_document_is_dropped(self):
        server = PageServer({"/slow/child.html": "<title>Child</title>"}, delay=3.0)
        self.addCleanup(server.close)
        m = self.morvil({"probe.js": "@probe.js", "index.html": page(f"""
            ext.NewInstance(0, '{server.url('/slow/child.html')}', '.container');
            var child = ext.FindWindowByName('');  // no page yet, so no title either
            probe.put('child', child !== 0 && child !== ext.FindWindowByName(document.title));
            probe.put('sent', ext.SendMessage(child, 1125, 1, 2));
            probe.save();""")})
        m.start()
        self.assertEqual(m.result(), {"child": True, "sent": S_FALSE})

    def test_close_request_and_session_end_reach_the_page(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            window.UI = { onUserMessage: function (code, value) {
              probe.put('events', (probe.out.events || []).concat([[code, value]]));
              probe.save();
            } };
            probe.put('ready', true); probe.save('ready.json');""")})
        proc = m.start()
        self.assertIsNotNone(m.result("ready.json"))
        wid = m.find_window()
        m.request_close(wid)
        self.assertTrue(wait_until(lambda: (m.result(timeout=0.2) or {}).get("events")))
        self.assertEqual(m.result()["events"], [[2, 0]])
        self.assertTrue(m.info(wid).viewable, "the close request closed the window")
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(10), 0)
        self.assertEqual(m.result()["events"], [[2, 0], [1000, 0]])

    def test_remote_page_reaches_only_the_window_methods(self):
        server = PageServer({"/remote.html": (
            "<html><head><title>Remote</title></head><body style='margin:0'>"
            "<div class='container' style='width:200px;height:100px'></div><script>"
            "function t(f){try{return String(f());}catch(e){return 'E'+e.number;}}"
            "window.onload=function(){if(location.search)return;"
            "setTimeout(function(){var e=window.external;"
            "var f=document.createElement('iframe');document.body.appendChild(f);"
            "var r=[t(function(){return e.Move(33,44);}),t(function(){return e.GetVersion();}),"
            "t(function(){return e.ReadFileContent('/etc/hostname');}),"
            # A frame it builds itself counts as the remote page.
            "t(function(){return f.contentWindow.external.GetVersion();}),"
            # No local page opens for it, named by a file URL or relative to the program's pages.
            "t(function(){return e.NewInstance(0,'file://'+'/etc/hostname','');}),"
            "t(function(){return e.NewInstance(0,'index.html','.container');}),"
            # Another page of the web does.
            "t(function(){return e.NewInstance(0,location.origin+'/other.html','.container');})];"
            "location.href='/remote.html?'+r.join(',');},300);};"
            "</script></body></html>"),
            "/other.html": "<html><head><title>Other</title></head><body></body></html>"})
        self.addCleanup(server.close)
        m = self.morvil({"index.html": page(f"location.href = '{server.url('/remote.html')}';",
                                            size=(1920, 1080))})
        m.start()
        denied = f"E{E_ACCESSDENIED}"
        expected = f"/remote.html?undefined,{denied},{denied},{denied},{denied},{denied},0"
        self.assertTrue(wait_until(lambda: expected in server.requests), server.requests)
        self.assertTrue(wait_until(lambda: "/other.html" in server.requests), server.requests)
        # Only the first page was ever loaded from the disk.
        self.assertEqual(len(m.find_windows()), 0)

    def test_frames_the_local_page_builds_count_as_the_page(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            ext.InsertPair('k', 'v');
            function t(f) { try { return String(f()); } catch (e) { return 'E' + e.number; } }
            var blank = document.createElement('iframe');
            document.body.appendChild(blank);
            probe.put('blank', t(function () { return blank.contentWindow.external.GetPair('k'); }));
            var nested = blank.contentDocument.createElement('iframe');
            blank.contentDocument.body.appendChild(nested);
            probe.put('nested', t(function () {
              return nested.contentWindow.external.GetPair('k'); }));
            var pending = 2;
            function done() { if (--pending === 0) probe.save(); }
            window.onmessage = function (e) { probe.put('sandboxed', e.data); done(); };
            window.fromSrcdoc = function (v) { probe.put('srcdoc', v); done(); };
            var own = document.createElement('iframe');
            own.srcdoc = "<script>var r; try { r = external.GetPair('k'); } catch (e) " +
                         "{ r = 'E' + e.number; } parent.fromSrcdoc(r);<\/script>";
            document.body.appendChild(own);
            // A sandboxed frame has an origin of its own, whoever built it.
            var boxed = document.createElement('iframe');
            boxed.setAttribute('sandbox', 'allow-scripts');
            boxed.srcdoc = "<script>var r; try { r = external.GetPair('k'); } catch (e) " +
                           "{ r = 'E' + e.number; } parent.postMessage(r, '*');<\/script>";
            document.body.appendChild(boxed);""")})
        m.start()
        r = m.result()
        self.assertIsNotNone(r, "the page saved nothing")
        self.assertEqual(r, {"blank": "v", "nested": "v", "srcdoc": "v",
                             "sandboxed": f"E{E_ACCESSDENIED}"})

    @unittest.skipIf(os.environ.get("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"),
                     "the browser sandbox cannot start here")
    def test_pages_run_in_the_browser_sandbox(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("probe.save();")})
        proc = m.start()
        self.assertIsNotNone(m.result(), "the page saved nothing")

        def web_processes():
            found = []
            for pid in os.listdir("/proc"):
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as f:
                        if b"WebKitWebProcess" in f.read().split(b"\0")[0]:
                            found.append(pid)
                except OSError:
                    pass
            return found
        own = os.readlink(f"/proc/{proc.pid}/ns/mnt")
        pages = [p for p in web_processes() if self._descends_from(p, proc.pid)]
        self.assertTrue(pages, "no web process found")
        runtime = os.path.join(m.runtime_dir, "morvil")
        self.assertTrue(os.path.isdir(os.path.join(runtime, "pipe")))
        for pid in pages:
            # Each page's process sees a file system of its own making, not the user's: of the
            # program's runtime directory only the bridge's socket, not the pipes beside it.
            self.assertNotEqual(os.readlink(f"/proc/{pid}/ns/mnt"), own)
            seen = f"/proc/{pid}/root" + runtime
            self.assertTrue(os.path.isdir(os.path.join(seen, "bridge")), pid)
            self.assertFalse(os.path.exists(os.path.join(seen, "pipe")), pid)
            self.assertFalse(os.path.exists(f"/proc/{pid}/root" + m.root + "/morvil"), pid)

    @staticmethod
    def _descends_from(pid, ancestor):
        while pid not in ("0", "1", str(ancestor)):
            try:
                with open(f"/proc/{pid}/stat") as f:
                    pid = f.read().rsplit(")", 1)[1].split()[1]
            except OSError:
                return False
        return pid == str(ancestor)


class WindowManagerTest(E2ETest):
    WINDOW_MANAGER = True

    def test_minimise_and_maximise(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            ext.MinWindow(); probe.put('min', true); probe.save('min.json');
            setTimeout(function () { ext.MaxWindow(); probe.save('max.json'); }, 1000);""")})
        m.start()
        wid = m.find_window()
        self.assertIsNotNone(m.result("min.json"))
        self.assertTrue(wait_until(lambda: "HIDDEN" in m.prop(wid, "_NET_WM_STATE")))
        self.assertIsNotNone(m.result("max.json"))
        self.assertTrue(wait_until(lambda: "MAXIMIZED_VERT" in m.prop(wid, "_NET_WM_STATE")))

    def test_drag_moves_the_window_with_the_mouse(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            document.body.addEventListener('mousedown', function () { ext.DrapAndDrop(); });
            probe.save('ready.json');""")})
        m.start()
        self.assertIsNotNone(m.result("ready.json"))
        wid = m.find_window()
        before = m.info(wid)
        x, y = before.x + 50, before.y + 50
        m.run_x("xdotool", "mousemove", str(x), str(y), "mousedown", "1")
        for step in range(1, 11):
            m.run_x("xdotool", "mousemove", str(x + 10 * step), str(y + 5 * step))
            time.sleep(0.05)
        m.run_x("xdotool", "mouseup", "1")
        self.assertTrue(wait_until(lambda: (m.info(wid).x, m.info(wid).y) ==
                                   (before.x + 100, before.y + 50), timeout=5),
                        (before.x, before.y, m.info(wid).x, m.info(wid).y))

    def test_tray_start_hides_again_after_a_later_document_completion(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": page("""
            if (!location.search) {
              ext.Show(1);
              probe.save('shown.json');
              setTimeout(function () { location.href = 'index.html?again'; }, 1000);
            } else {
              probe.save('reloaded.json');
            }""")})
        m.start("tray")
        self.assertIsNotNone(m.result("shown.json"))
        wid = m.find_window()
        self.assertTrue(wait_until(lambda: m.info(wid).viewable))
        self.assertNotIn("SKIP_TASKBAR", m.prop(wid, "_NET_WM_STATE"))
        self.assertIsNotNone(m.result("reloaded.json"))
        self.assertTrue(wait_until(lambda: not m.info(wid).viewable, timeout=5))
