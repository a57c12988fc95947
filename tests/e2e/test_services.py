"""Host services reached from a real page: the pair store as the network-stack component sees
it, the pipe methods and the service bootstrap, the network services, registry, files, HTTP and
usage reports."""

import http.server
import json
import os
import subprocess
import threading
import urllib.parse

from harness import E2ETest, probe_page, wait_until

TOKEN = "t0k3n"
ACCELERATED = f"1,10.0.0.1,8080,{TOKEN}"
NOT_ACCELERATED = f"0,10.0.0.1,8080,{TOKEN}"


class RecordingServer:
    """A loopback HTTP server that records request paths and answers 200 with a fixed body."""

    def __init__(self, body=b"hello from loopback"):
        outer = self
        self.paths = []

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                outer.paths.append(self.path)
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}"
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class AccelerationTest(E2ETest):
    def test_page_pairs_answer_the_network_stack_component(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": probe_page(f"""
            ext.InsertPair('acc.processes', 'foo.exe,bar.exe');
            ext.InsertPair('acc.proxy_server', '10.0.0.1');
            ext.InsertPair('acc.proxy_port', '8080');
            ext.InsertPair('acc.proxy_token', '{TOKEN}');
            probe.save('ready.json');
            var go = ext.GetAppCurrentPath() + '/go';
            var timer = setInterval(function () {{
              if (!ext.FileExists(go)) return;
              clearInterval(timer);
              ext.InsertPair('acc.processes', 'baz.exe');
              probe.save('changed.json');
            }}, 50);""")})
        m.start()
        self.assertIsNotNone(m.result("ready.json"))
        asked = m.run_tool("acc-request", "RequestAcc,100,C:\\Games\\FOO.EXE",
                           "RequestAcc,101,C:\\Games\\other.exe", "RequestAcc,102,/usr/bin/bar.exe")
        self.assertEqual(asked.returncode, 0, asked.stderr)
        self.assertEqual(asked.stdout.splitlines(), [ACCELERATED, NOT_ACCELERATED, ACCELERATED])
        open(os.path.join(m.root, "go"), "w").close()
        self.assertIsNotNone(m.result("changed.json"))
        asked = m.run_tool("acc-request", "RequestAcc,100,C:\\Games\\FOO.EXE",
                           "RequestAcc,103,D:\\baz.exe")
        self.assertEqual(asked.stdout.splitlines(), [NOT_ACCELERATED, ACCELERATED])

    def test_no_program_running_means_the_pipe_cannot_be_opened(self):
        m = self.morvil({"index.html": probe_page("")})
        self.assertNotEqual(m.run_tool("acc-request").returncode, 0)

    def test_page_pipe_methods_and_service_bootstrap(self):
        m = self.morvil(
            {"probe.js": "@probe.js", "index.html": probe_page("""
                var pipe = '\\\\\\\\.\\\\pipe\\\\brelanPipe';
                ext.InsertPair('acc.processes', 'game.exe');
                probe.put('never_opened', ext.PipeClientRead('\\\\\\\\.\\\\pipe\\\\nobody'));
                probe.put('write_unopened', ext.PipeClientWrite('\\\\\\\\.\\\\pipe\\\\nobody', 'x'));
                probe.put('connect', ext.PipeClientConnect(pipe));
                probe.put('write', ext.PipeClientWrite(pipe, 'RequestAcc,1,/opt/game.exe'));
                probe.put('read', ext.PipeClientRead(pipe));
                probe.put('disconnect', ext.PipeClientDisconnect(pipe));
                probe.put('init_service', ext.InitService());
                probe.save();""")},
            extra_programs=("Caddow.exe", "pellix.exe", "morvil-backend-service",
                            "sorvan_lsp.so"))
        m.extra_env["XDG_STATE_HOME"] = os.path.join(m.root, "state")
        m.start()
        r = m.result(timeout=30)
        self.assertIsNotNone(r)
        self.assertEqual(r["never_opened"], "")
        self.assertIs(r["write_unopened"], False)
        self.assertEqual((r["connect"], r["write"], r["disconnect"]), (True, True, True))
        self.assertEqual(r["read"], "1,,,")
        self.assertIs(r["init_service"], True)
        installed = os.path.join(m.root, "state", "morvil", "lsp-installed")
        self.assertTrue(wait_until(lambda: os.path.exists(installed)))
        with open(installed) as f:
            self.assertIn("sorvan_lsp", f.read())
        subprocess.run(["pkill", "-f", os.path.join(m.root, "morvil-backend-service")])


class NetworkServicesTest(E2ETest):
    def test_latency_probe_events_reach_the_page(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": probe_page("""
            var events = [];
            window.UI = { onUserMessage: function (a, q) {
              events.push([a, q]);
              if (events.length === 3) { probe.put('events', events); probe.save(); }
            } };
            ext.Ping('127.0.0.1', 3, 1000);
            setTimeout(function () { ext.Ping('127.0.0.1', 0, 1000); }, 1500);
            setTimeout(function () { ext.Ping('no-such-host.invalid', 2, 500); }, 2000);""")})
        m.start()
        r = m.result(timeout=30)
        self.assertIsNotNone(r, "the page received fewer than three events")
        events = r["events"]
        self.assertEqual(len(events), 3)
        average, quenches = events[0]
        self.assertGreaterEqual(average, 0)
        self.assertLess(average, 100)
        self.assertEqual(quenches, 0)
        self.assertEqual(events[1], [0, 0])
        self.assertEqual(events[2], [-1, 0])

    def test_proxy_settings_switch_as_another_reader_sees_them(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": probe_page("""
            ext.SetAutoConfigProxy('http://127.0.0.1:8000/proxy.pac');
            probe.put('auto', ext.GetProxyType());
            probe.save('auto.json');
            var go = ext.GetAppCurrentPath() + '/go';
            var timer = setInterval(function () {
              if (!ext.FileExists(go)) return;
              clearInterval(timer);
              ext.DisableProxy();
              probe.put('direct', ext.GetProxyType());
              probe.save('direct.json');
            }, 50);""")})
        env = dict(m.env(), GSETTINGS_BACKEND="keyfile",
                   XDG_CONFIG_HOME=os.path.join(m.root, "config"))
        m.extra_env.update(GSETTINGS_BACKEND="keyfile", XDG_CONFIG_HOME=env["XDG_CONFIG_HOME"])
        m.start()

        def gsettings(key):
            return subprocess.run(["gsettings", "get", "org.gnome.system.proxy", key], env=env,
                                  capture_output=True, text=True).stdout.strip()
        self.assertEqual(m.result("auto.json"), {"auto": 5})
        self.assertEqual(gsettings("mode"), "'auto'")
        self.assertEqual(gsettings("autoconfig-url"), "'http://127.0.0.1:8000/proxy.pac'")
        self.assertIn("'localhost'", gsettings("ignore-hosts"))
        open(os.path.join(m.root, "go"), "w").close()
        self.assertEqual(m.result("direct.json"), {"auto": 5, "direct": 1})
        self.assertEqual(gsettings("mode"), "'none'")
        self.assertEqual(gsettings("autoconfig-url"), "'http://127.0.0.1:8000/proxy.pac'")

    def test_traffic_totals_match_the_kernel_counters(self):
        m = self.morvil({"probe.js": "@probe.js", "index.html": probe_page("""
            probe.put('before', [ext.GetCurrDownloadTotal(), ext.GetCurrUploadTotal()]);
            probe.put('ok', ext.GetNetworkInfo());
            probe.put('after', [ext.GetCurrDownloadTotal(), ext.GetCurrUploadTotal()]);
            probe.save();""")})
        adapters = [name for name in sorted(os.listdir("/sys/class/net"))
                    if name != "lo" and os.path.exists(f"/sys/class/net/{name}/statistics")]

        def counters():
            out = {}
            for name in adapters:
                with open(f"/sys/class/net/{name}/statistics/rx_bytes") as rx, \
                        open(f"/sys/class/net/{name}/statistics/tx_bytes") as tx:
                    out[name] = (int(rx.read()) & 0xFFFFFFFF, int(tx.read()) & 0xFFFFFFFF)
            return out
        before = counters()
        m.start()
        r = m.result()
        after = counters()
        self.assertEqual(r["before"], [0, 0])
        if not r["ok"]:
            self.skipTest("this machine has no IPv4 adapter besides loopback")

        def signed(v):
            return v - (1 << 32) if v >= 1 << 31 else v
        down, up = r["after"]
        # Some adapter's counters, read between our two readings.
        self.assertTrue(any(signed(before[n][0]) <= down <= signed(after[n][0]) and
                            signed(before[n][1]) <= up <= signed(after[n][1]) for n in adapters),
                        (r, before, after))


class StorageAndHttpTest(E2ETest):
    def test_requests_use_the_proxy_of_the_desktop_settings(self):
        proxy = RecordingServer(b"through the proxy")
        self.addCleanup(proxy.close)
        m = self.morvil({"probe.js": "@probe.js", "index.html": probe_page("""
            probe.put('text', ext.GetStringFromUrl('http://proxied.invalid/page', ''));
            probe.save();""")})
        m.extra_env.update(GSETTINGS_BACKEND="keyfile",
                           XDG_CONFIG_HOME=os.path.join(m.root, "config"))
        env = m.env()
        port = proxy.url.rsplit(":", 1)[1]
        for schema, key, value in (("org.gnome.system.proxy.http", "host", "'127.0.0.1'"),
                                   ("org.gnome.system.proxy.http", "port", port),
                                   ("org.gnome.system.proxy", "mode", "'manual'")):
            subprocess.run(["gsettings", "set", schema, key, value], env=env, check=True)
        m.start()
        r = m.result(timeout=30)
        self.assertEqual(r, {"text": "through the proxy"})
        self.assertEqual(proxy.paths, ["http://proxied.invalid/page"])

    def test_registry_files_http_and_reports_from_a_page(self):
        server = RecordingServer()
        self.addCleanup(server.close)
        m = self.morvil({"probe.js": "@probe.js", "index.html": probe_page(f"""
            probe.put('reg_write', ext.RegWriteString('HKEY_CURRENT_USER\\\\Software\\\\Morvil',
                                                      'Name', 'value \\u00e9'));
            probe.put('reg_read', ext.RegReadString('HKEY_CURRENT_USER\\\\Software\\\\Morvil',
                                                    'Name'));
            var ini = ext.GetAppCurrentPath() + '/settings.ini';
            probe.put('ini_write', ext.WriteConfig(ini, 'acc', 'server', '10.0.0.1'));
            probe.put('ini_read', ext.ReadConfig(ini, 'ACC', 'Server'));
            probe.put('http', ext.GetStringFromUrl('{server.url}/text', ''));
            probe.put('download', ext.DownLoadFile('{server.url}/file',
                                                   ext.GetAppCurrentPath() + '/got.txt'));
            ext.StartReport('start', 'from e2e');
            ext.ReportWait();
            probe.save();""")})
        m.extra_env.update(MORVIL_REPORT_URL=f"{server.url}/report",
                           MORVIL_ANALYTICS_URL=server.url,
                           MORVIL_REGISTRY_DIR=os.path.join(m.root, "registry"))
        m.start()
        r = m.result(timeout=30)
        self.assertIsNotNone(r)
        # The write methods answer FALSE when they wrote.
        self.assertEqual((r["reg_write"], r["reg_read"]), (False, "value \u00e9"))
        self.assertEqual((r["ini_write"], r["ini_read"]), (True, "10.0.0.1"))
        self.assertEqual(r["http"], "hello from loopback")
        self.assertIs(r["download"], True)
        with open(os.path.join(m.root, "got.txt"), "rb") as f:
            self.assertEqual(f.read(), b"hello from loopback")
        self.assertTrue(wait_until(lambda: len([p for p in server.paths
                                                if "start" in urllib.parse.unquote(p)]) >= 2),
                        server.paths)
        self.assertTrue(any(p.startswith("/report?") for p in server.paths), server.paths)
        self.assertTrue(any(p.startswith("/collect?") for p in server.paths), server.paths)
