"""The main page's "Start with my desktop session" switch: off until the user turns it on, then
an autostart entry in the user's startup folder starts the program in the tray; turning it off
removes the entry."""

import configparser
import os
import shlex

from harness import E2ETest
from test_pages import product_pages

RECORD = ("var seen = window.seen || (window.seen = {});"
          "var entry = window.external.GetUserStartupPath() + '/Morvil Accelerator.desktop';"
          "var panel = $('autostart').closest('section').getBoundingClientRect();"
          "var page = document.querySelector('.container').getBoundingClientRect();"
          "seen[NAME] = { checked: $('autostart').checked, visible: panel.bottom <= page.bottom,"
          "  entry: window.external.FileExists(entry) ?"
          "         window.external.ReadFileContent(entry) : null };"
          "window.external.WriteFileContent(window.external.GetAppCurrentPath() +"
          "                                 '/autostart.json', JSON.stringify(seen));")


def record(name):
    return RECORD.replace("NAME", repr(name))


def desktop_entry(text):
    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read_string(text)
    return parser["Desktop Entry"]


class AutostartTest(E2ETest):
    def run_page(self, steps, entry_before=None):
        m = self.morvil(product_pages(steps))
        config = os.path.join(m.root, "config")
        m.extra_env.update(XDG_CONFIG_HOME=config)
        entry = os.path.join(config, "autostart", "Morvil Accelerator.desktop")
        if entry_before is not None:
            os.makedirs(os.path.dirname(entry))
            with open(entry, "w", encoding="utf-8") as f:
                f.write(entry_before)
        m.start()
        # The driver's last look comes after every step.
        self.assertIsNotNone(m.result("seen.json", timeout=30), "the page did not finish")
        return m, entry, m.result("autostart.json")

    def test_off_until_turned_on_then_starts_in_the_tray_and_goes_when_turned_off(self):
        m, entry, seen = self.run_page([
            record("initial"),
            "click('autostart');" + record("on"),
            "click('autostart');" + record("off"),
        ])
        self.assertEqual(seen["initial"], {"checked": False, "visible": True, "entry": None})
        self.assertTrue(seen["on"]["checked"])
        group = desktop_entry(seen["on"]["entry"])
        self.assertEqual(group["Type"], "Application")
        self.assertEqual(shlex.split(group["Exec"]), [os.path.join(m.root, "morvil"), "tray"])
        self.assertEqual(seen["off"], {"checked": False, "visible": True, "entry": None})
        self.assertFalse(os.path.exists(entry))

    def test_an_entry_made_before_shows_as_on(self):
        _, entry, seen = self.run_page(
            [record("initial")],
            entry_before="[Desktop Entry]\nType=Application\nName=Morvil Accelerator\n"
                         "Exec=morvil tray\n")
        self.assertEqual(seen["initial"]["checked"], True)
        self.assertTrue(os.path.exists(entry))
