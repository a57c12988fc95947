"""The main page's latency card, driven through the product's own pages: a probe of 127.0.0.1
shows its time with the chart inside the card, and a user who may not send pings is told so and
how to allow it, instead of a time of 0 ms."""

import os

from harness import E2ETest
from test_pages import product_pages

# Once the page is up: one probe through the page's own handler, then what the card shows.
PROBE = (
    "UI.pingHandler = function (average) {"
    "  latency.show(average);"
    "  setTimeout(function () {"
    "    var card = $('latency-card').getBoundingClientRect();"
    "    var chart = $('latency-chart').getBoundingClientRect();"
    "    var style = getComputedStyle($('latency-card'));"
    "    var seen = { average: average, value: $('latency').textContent,"
    "      help: $('latency-help').textContent,"
    "      helpShown: $('latency-help').offsetHeight > 0,"
    "      chartShown: chart.height > 0,"
    "      inside: chart.left >= card.left && chart.right <= card.right &&"
    "              chart.top >= card.top &&"
    "              chart.bottom <= card.bottom - parseFloat(style.paddingBottom) };"
    "    window.external.WriteFileContent(window.external.GetAppCurrentPath() + '/latency.json',"
    "                                     JSON.stringify(seen));"
    "  }, 100);"
    "};"
    "host.call('Ping', '127.0.0.1', 2, 500);"
)


class LatencyCardTest(E2ETest):
    def run_probe(self, wrapper=()):
        m = self.morvil(product_pages([PROBE]))
        m.extra_env.update(XDG_CONFIG_HOME=os.path.join(m.root, "config"))
        m.start(wrapper=wrapper)
        seen = m.result("latency.json", timeout=30)
        self.assertIsNotNone(seen, "the page recorded no probe result")
        return m, seen

    def test_answered_probe_shows_its_time_and_the_chart_stays_in_the_card(self):
        _, seen = self.run_probe()
        self.assertGreaterEqual(seen["average"], 0, seen)
        self.assertEqual(seen["value"], str(seen["average"]))
        self.assertTrue(seen["chartShown"], seen)
        self.assertTrue(seen["inside"], seen)
        self.assertFalse(seen["helpShown"], seen)

    def test_user_who_may_not_send_pings_is_told_how_to_allow_it(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to take the capability away")
        # A new network namespace has the kernel's default ping_group_range ("1 0"), and without
        # cap_net_raw in its bounding set even root may open no raw socket; the copy of the
        # program has no echo helper beside it.
        m, seen = self.run_probe(wrapper=(
            "unshare", "-n", "setpriv", "--bounding-set=-net_raw", "--inh-caps=-net_raw"))
        self.assertEqual(seen["average"], -2, seen)
        self.assertEqual(seen["value"], "Cannot be measured")
        self.assertTrue(seen["helpShown"], seen)
        self.assertIn("sudo setcap cap_net_raw+ep " + os.path.join(m.root, "morvil-ping"),
                      seen["help"])
        self.assertFalse(seen["chartShown"], seen)
