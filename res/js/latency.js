// The latency card: the last result of a probe and a chart of the recent ones.
var latency = (function () {
  var NOT_RESOLVED = -1, NOT_PERMITTED = -2;
  var el = function (id) { return document.getElementById(id); };
  var chart = null;

  // How to let this user send pings, shown when the system refuses: the package grants the echo
  // helper beside the program the one capability it needs.
  function howToAllow() {
    var helper = (host.call('GetAppCurrentPath') || '/opt/morvil') + '/morvil-ping';
    return 'sudo setcap cap_net_raw+ep ' + helper;
  }

  return {
    start: function (samples) { chart = new LatencyChart(el('latency-chart'), samples); },

    // One probe result as the page event brings it: the average in ms, or a negative code.
    show: function (average) {
      var blocked = average === NOT_PERMITTED;
      el('latency-card').classList.toggle('blocked', blocked);
      if (blocked) {
        el('latency').textContent = 'Cannot be measured';
        el('latency-help').textContent = 'This system does not let you send pings. To allow it: ' +
            howToAllow();
        return;
      }
      el('latency').textContent = average === NOT_RESOLVED ? 'n/a' : String(average);
      if (chart) chart.add(average);
    }
  };
})();
