"""The Debian package, as a user gets it: built by scripts/package.sh, checked by lintian,
installed with apt-get, the installed program run by an ordinary user under a private X server,
and purged again, after which nothing of it is left. Also: installing over an older version keeps
the user's settings. Needs root (it installs into the machine); CI runs it as root.

The installed program shows only its installed pages. To see what they show, each run mounts a
copy of those pages with a small driver added over /opt/morvil/res, in a private mount namespace
that only that run sees (and a private PID namespace, so that nothing it starts outlives it)."""

import glob
import json
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

from harness import XServer, wait_until

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = os.path.join(ROOT, "build")
APP = "/opt/morvil"
USER = ("65534", "65534")  # nobody: an ordinary user without any privilege
APT = ["apt-get", "-o", "DPkg::Lock::Timeout=600", "-y", "-q"]

# Added to the installed main page: sets up a proxy server as a user would, measures the latency
# of 127.0.0.1, starts acceleration, opens the about window, and records what the page shows.
MAIN_DRIVER = """
<script>
window.addEventListener('load', function () {
  var $ = function (id) { return document.getElementById(id); };
  var out = window.external.GetUserAppDataPath() + '/e2e-main.json';
  var seen = {};
  function save() { window.external.WriteFileContent(out, JSON.stringify(seen)); }
  setTimeout(function () {
    seen.settings = { server: $('server').value, port: $('port').value,
                      autostart: $('autostart').checked };
    seen.version = host.call('GetVersion');
    seen.error = host.lastError;
    SETUP
    UI.pingHandler = function (average) {
      latency.show(average);
      seen.ping = average;
      seen.latency = $('latency').textContent;
      save();
      $('toggle').click();
      setTimeout(function poll() {
        if ($('toggle').disabled) return setTimeout(poll, 200);
        seen.status = $('status').textContent;
        seen.detail = $('status-detail').textContent;
        save();
        $('about').click();
      }, 300);
    };
    host.call('Ping', '127.0.0.1', 3, 1000);
  }, 500);
});
</script>
"""

ABOUT_DRIVER = """
<script>
window.addEventListener('load', function () {
  setTimeout(function () {
    window.external.WriteFileContent(window.external.GetUserAppDataPath() + '/e2e-about.json',
        JSON.stringify({ version: document.getElementById('version').textContent }));
  }, 300);
});
</script>
"""

# Turns settings on as a user would: a program, a proxy server, starting with the session.
SETUP_SETTINGS = """
    if (!$('server').value) {
      $('program').value = 'game.exe'; $('add-program').click();
      $('server').value = '127.0.0.1'; $('port').value = '1080'; $('token').value = 'tk';
      $('save-proxy').click();
      $('autostart').click();
    }
"""


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=RUNTIME</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def run(cmd, **kw):
    return subprocess.run(cmd, capture_output=True, text=True, **kw)


def clean_environment():
    """The environment an administrator's shell would give: none of the test run's settings
    (which point the registry stores elsewhere, for example)."""
    return {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8",
            "DEBIAN_FRONTEND": "noninteractive"}


def package_version():
    with open(os.path.join(BUILD, "version.txt")) as f:
        return f.read().strip()


@unittest.skipUnless(os.geteuid() == 0, "installs a package: needs root")
class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if run(["dpkg-query", "-W", "-f=${Status}", "morvil"]).stdout.startswith("install"):
            raise unittest.SkipTest("morvil is installed on this machine; not touching it")
        built = run([os.path.join(ROOT, "scripts", "package.sh")])
        if built.returncode != 0:
            raise AssertionError("scripts/package.sh failed:\n" + built.stdout[-3000:] +
                                 built.stderr[-3000:])
        cls.deb = built.stdout.strip().splitlines()[-1]
        cls.version = package_version()

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="morvil-package-")
        os.chmod(self.work, 0o755)
        self.addCleanup(shutil.rmtree, self.work, True)
        self.home = os.path.join(self.work, "home")
        os.makedirs(os.path.join(self.home, "runtime"), mode=0o700)
        run(["chown", "-R", ":".join(USER), self.home])
        self.x = XServer()
        self.addCleanup(self.x.close)

    # --- helpers -------------------------------------------------------------------------

    def install(self, deb):
        result = run([*APT, "install", os.path.abspath(deb)], env=clean_environment())
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.addCleanup(self.purge_quietly)

    def purge(self):
        result = run([*APT, "purge", "morvil"], env=clean_environment())
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def purge_quietly(self):
        if run(["dpkg-query", "-W", "-f=${Status}", "morvil"]).stdout.startswith("install"):
            run([*APT, "purge", "morvil"], env=clean_environment())

    def entry(self):
        """The uninstall entry's values, read by an ordinary user."""
        shown = run(["setpriv", f"--reuid={USER[0]}", f"--regid={USER[1]}", "--clear-groups",
                     f"{APP}/morvil-uninstall-entry", "show"], env=clean_environment())
        return dict(line.split("=", 1) for line in shown.stdout.splitlines())

    def run_installed(self, setup=""):
        """Runs /usr/bin/morvil as the ordinary user with the installed pages plus the driver;
        returns what the main page and the about window recorded."""
        res = os.path.join(self.work, "res")
        shutil.rmtree(res, ignore_errors=True)
        shutil.copytree(f"{APP}/res", res)
        for name, driver in (("index.html", MAIN_DRIVER.replace("SETUP", setup)),
                             ("about.html", ABOUT_DRIVER)):
            path = os.path.join(res, name)
            with open(path, encoding="utf-8") as f:
                page = f.read()
            with open(path, "w", encoding="utf-8") as f:
                f.write(page.replace("</body>", driver + "</body>"))
        config = os.path.join(self.home, "config")
        for name in ("e2e-main.json", "e2e-about.json"):
            if os.path.exists(os.path.join(config, name)):
                os.remove(os.path.join(config, name))
        env = {
            "PATH": "/usr/bin:/bin", "HOME": self.home, "USER": "nobody", "LANG": "C.UTF-8",
            "DISPLAY": self.x.display, "XDG_CONFIG_HOME": config,
            "XDG_DATA_HOME": os.path.join(self.home, "data"),
            "XDG_CACHE_HOME": os.path.join(self.home, "cache"),
            "XDG_STATE_HOME": os.path.join(self.home, "state"),
            "XDG_RUNTIME_DIR": os.path.join(self.home, "runtime"),
            "TMPDIR": self.home, "GSETTINGS_BACKEND": "keyfile", "NO_AT_BRIDGE": "1",
            "MORVIL_REPORT_URL": "http://127.0.0.1:9/report",
            "MORVIL_ANALYTICS_URL": "http://127.0.0.1:9",
            "WEBKIT_DISABLE_COMPOSITING_MODE": "1",
            # The browser's sandbox cannot start inside an unprivileged container; tests only.
            "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS": "1",
        }
        # A session bus whose socket lies in the user's runtime directory, and which starts no
        # services (the accessibility bus would put its socket in /tmp): the run is ended by
        # force, and nothing of it may be left outside its folder.
        bus_config = os.path.join(self.work, "session-bus.conf")
        with open(bus_config, "w") as f:
            f.write(BUS_CONFIG.replace("RUNTIME", env["XDG_RUNTIME_DIR"]))
        log_path = os.path.join(self.work, "morvil.log")
        with open(log_path, "w") as log:
            proc = subprocess.Popen(
                ["unshare", "--mount", "--propagation", "private", "--pid", "--fork",
                 "--kill-child", "--mount-proc", "sh", "-c",
                 'mount --bind "$0" /opt/morvil/res && exec setpriv --reuid="$1" --regid="$2" '
                 '--clear-groups dbus-run-session --config-file="$3" -- /usr/bin/morvil',
                 res, *USER, bus_config], env=env, stdout=log, stderr=subprocess.STDOUT,
                start_new_session=True)

        def stop():
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait(10)
        self.addCleanup(stop)

        def read(name):
            try:
                with open(os.path.join(config, name), encoding="utf-8") as f:
                    return [json.load(f)]
            except (OSError, ValueError):
                return None

        def window_titled(title):
            tree = run(["xwininfo", "-root", "-tree"], env=self.x.env()).stdout
            return f'"{title}"' in tree

        try:
            self.assertTrue(wait_until(lambda: window_titled("Morvil Accelerator"), timeout=60),
                            "the main window did not appear")
            about = wait_until(lambda: read("e2e-about.json"), timeout=90)
            self.assertIsNotNone(about, "the about window recorded nothing")
            self.assertTrue(window_titled("About Morvil Accelerator"))
            main = read("e2e-main.json")
        except AssertionError:
            with open(log_path, errors="replace") as f:
                print("--- the installed program's output\n" + f.read()[-4000:])
            raise
        finally:
            stop()
        return main[0], about[0]

    # --- tests ---------------------------------------------------------------------------

    def test_lintian_finds_nothing(self):
        result = run(["lintian", "--fail-on", "error,warning", self.deb])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual([l for l in result.stdout.splitlines() if l[:2] in ("E:", "W:")], [])

    def test_install_run_as_a_user_and_purge_leaves_nothing(self):
        self.install(self.deb)
        files = [p for p in run(["dpkg-query", "-L", "morvil"]).stdout.splitlines()
                 if not os.path.isdir(p)]

        # What the package put in place.
        self.assertEqual(os.readlink("/usr/bin/morvil"), f"{APP}/morvil")
        self.assertEqual(os.readlink("/usr/bin/morvil-run"), f"{APP}/morvil-run")
        self.assertIn("cap_net_raw", run(["getcap", f"{APP}/morvil-ping"]).stdout)
        self.assertEqual(run(["getcap", f"{APP}/morvil"]).stdout.strip(), "")
        desktop = "/usr/share/applications/morvil.desktop"
        self.assertEqual(run(["desktop-file-validate", desktop]).stdout, "")
        for size in ("16x16", "48x48", "256x256", "scalable"):
            self.assertTrue(glob.glob(f"/usr/share/icons/hicolor/{size}/apps/morvil.*"), size)
        self.assertEqual(self.entry(), {"DisplayVersion": self.version, "SourceID": "deb"})
        has_units = os.path.exists("/lib/systemd/system/morvil-backend-service.socket")
        if has_units:
            self.assertTrue(glob.glob(
                "/etc/systemd/system/*.wants/morvil-backend-service.socket"), "socket not enabled")
            # systemd takes the installed units as they are: known settings, a program to run.
            verify = run(["systemd-analyze", "verify",
                          *(f"/lib/systemd/system/morvil-backend-service.{kind}"
                            for kind in ("socket", "service"))])
            self.assertEqual((verify.returncode, verify.stdout + verify.stderr), (0, ""))

        # The installed program, as an ordinary user.
        main, about = self.run_installed(setup=SETUP_SETTINGS)
        self.assertEqual(main["version"], self.version, main)
        self.assertEqual(about["version"], self.version)
        self.assertGreaterEqual(main["ping"], 0, main)
        self.assertEqual(main["latency"], str(main["ping"]))
        self.check_start(main)

        self.purge()
        left = [p for p in files if os.path.lexists(p)]
        self.assertEqual(left, [])
        self.assertFalse(os.path.lexists(APP))
        self.assertFalse(os.path.lexists("/var/lib/morvil"), "the machine registry store is left")
        self.assertFalse(os.path.lexists("/run/morvil"), "the service's run-time folder is left")
        self.assertEqual(glob.glob("/etc/systemd/system/**/morvil-*", recursive=True), [])
        self.assertEqual(glob.glob("/var/lib/systemd/deb-systemd-helper-*/**/morvil-*",
                                   recursive=True), [])
        self.assertEqual([l for l in run(["getcap", "-r", "/opt", "/usr/bin"]).stdout.splitlines()
                          if "morvil" in l], [])
        self.assertNotIn("install", run(["dpkg-query", "-W", "-f=${Status}", "morvil"]).stdout)

    def test_installing_over_an_older_version_keeps_the_users_settings(self):
        older = self.older_package("0.9.0")
        self.install(older)
        self.assertEqual(self.entry()["DisplayVersion"], "0.9.0")
        first, about = self.run_installed(setup=SETUP_SETTINGS)
        self.assertEqual(about["version"], "0.9.0")
        self.check_start(first)

        self.install(self.deb)
        self.assertEqual(self.entry(), {"DisplayVersion": self.version, "SourceID": "deb"})
        self.assertIn("cap_net_raw", run(["getcap", f"{APP}/morvil-ping"]).stdout)
        second, about = self.run_installed()
        self.assertEqual(about["version"], self.version)
        self.assertEqual(second["settings"],
                         {"server": "127.0.0.1", "port": "1080", "autostart": True})
        autostart = os.path.join(self.home, "config", "autostart", "Morvil Accelerator.desktop")
        with open(autostart, encoding="utf-8") as f:
            self.assertIn(f"Exec={APP}/morvil tray", f.read())

    # --- more helpers --------------------------------------------------------------------

    def check_start(self, main):
        """Starting acceleration brings the service up where systemd runs; elsewhere it either
        runs the user's own service or says plainly that it could not start."""
        if os.path.isdir("/run/systemd/system"):
            self.assertEqual(main["status"], "Accelerating", main)
        elif main["status"] != "Accelerating":
            self.assertEqual(main["status"], "Acceleration could not start", main)
            self.assertIn("backend service", main["detail"])

    def older_package(self, version):
        """The package re-stamped with an older version."""
        tree = os.path.join(self.work, "older")
        subprocess.run(["dpkg-deb", "-R", self.deb, tree], check=True)
        for name, old, new in (("control", f"Version: {self.version}", f"Version: {version}"),
                               ("postinst", f"version='{self.version}'", f"version='{version}'")):
            path = os.path.join(tree, "DEBIAN", name)
            with open(path) as f:
                text = f.read()
            self.assertIn(old, text)
            with open(path, "w") as f:
                f.write(text.replace(old, new))
        deb = os.path.join(self.work, f"morvil_{version}_amd64.deb")
        subprocess.run(["dpkg-deb", "--root-owner-group", "-b", tree, deb], check=True,
                       capture_output=True)
        return deb


if __name__ == "__main__":
    unittest.main()
