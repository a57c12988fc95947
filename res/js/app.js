// The main window: acceleration on and off, programs and proxy server, latency, traffic and the
// desktop's proxy setting; the tray icon and the windows it opens.
(function () {
  var MENU_OPEN = 40001, MENU_EXIT = 40002, SESSION_END = 1000, CLOSE_REQUEST = 2;
  var PING_EVERY_MS = 5000, TRAFFIC_EVERY_MS = 1000, CHART_SAMPLES = 60;
  // The backend service's pipe, spelled as the start of acceleration opens it.
  var SERVICE_PIPE = '\\\\.\\pipe\\ZrNetworkGameBackendService';
  var el = function (id) { return document.getElementById(id); };
  latency.start(CHART_SAMPLES);

  function say(id, text, kind) {
    var m = el(id);
    m.textContent = text;
    m.className = 'message' + (kind ? ' ' + kind : '');
  }

  function report(action, label) { host.call('StartReportZh', action, label); }

  // --- Window ---------------------------------------------------------------------------
  function toTray() {
    host.call('ShowTray', 'Morvil Accelerator', 'Open,' + MENU_OPEN + ',Exit,' + MENU_EXIT);
    host.call('Hide');
  }
  function showWindow() {
    host.call('Show', 1);
  }
  function exit() {
    settings.save();
    host.call('FreeTray');
    host.call('ReportWait');
    host.call('CloseWindow', 0);
  }
  el('titlebar').addEventListener('mousedown', function (e) {
    if (e.button === 0 && e.target.tagName !== 'BUTTON') host.call('DrapAndDrop');
  });
  el('minimize').onclick = function () { host.call('MinWindow'); };
  el('close').onclick = toTray;
  el('about').onclick = function () {
    host.call('CreateSplitWeb', 'frame.html', '.container', 'about.html', '.container',
              'About Morvil Accelerator');
  };
  host.on(MENU_OPEN, showWindow);
  host.on(MENU_EXIT, exit);
  host.on(CLOSE_REQUEST, toTray);
  host.on(SESSION_END, function () { settings.save(); });

  // --- Programs and proxy server ----------------------------------------------------------
  function renderPrograms() {
    var list = el('programs');
    list.innerHTML = '';
    if (!settings.values.processes.length) {
      var empty = document.createElement('li');
      empty.className = 'empty';
      empty.textContent = 'No programs yet.';
      list.appendChild(empty);
    }
    settings.values.processes.forEach(function (name, i) {
      var item = document.createElement('li');
      var label = document.createElement('span');
      label.textContent = name;
      var remove = document.createElement('button');
      remove.textContent = '\u2715';
      remove.title = 'Remove ' + name;
      remove.onclick = function () {
        settings.values.processes.splice(i, 1);
        commit('programs-message', 'Removed ' + name + '.');
      };
      item.appendChild(label);
      item.appendChild(remove);
      list.appendChild(item);
    });
  }

  // Saves and publishes the settings; on failure the user is told and nothing else changes.
  function commit(messageId, doneText) {
    if (!settings.save()) {
      say(messageId, 'Your settings could not be saved (' + host.lastError + ').', 'error');
      return false;
    }
    settings.publish();
    renderPrograms();
    updateStatus();
    say(messageId, doneText, 'ok');
    return true;
  }

  el('add-program').onclick = function () {
    var name = el('program').value.trim();
    if (!name) return say('programs-message', 'Enter a program name, for example game.exe.', 'error');
    if (/[,\\\/]/.test(name))
      return say('programs-message', 'Enter only the program\u2019s file name, without a folder or commas.', 'error');
    var exists = settings.values.processes.some(function (p) { return p.toLowerCase() === name.toLowerCase(); });
    if (exists) return say('programs-message', name + ' is already in the list.', 'error');
    settings.values.processes.push(name);
    if (commit('programs-message', 'Added ' + name + '.')) el('program').value = '';
  };
  el('program').addEventListener('keydown', function (e) { if (e.key === 'Enter') el('add-program').onclick(); });

  el('save-proxy').onclick = function () {
    var server = el('server').value.trim(), port = el('port').value.trim(), token = el('token').value.trim();
    if (!server) return say('proxy-message', 'Enter the proxy server\u2019s address.', 'error');
    if (!/^\d+$/.test(port) || +port < 1 || +port > 65535)
      return say('proxy-message', 'The port must be a number from 1 to 65535.', 'error');
    if (/,/.test(server + token)) return say('proxy-message', 'The server and token cannot contain commas.', 'error');
    var old = { server: settings.values.server, port: settings.values.port, token: settings.values.token };
    settings.values.server = server; settings.values.port = port; settings.values.token = token;
    if (!commit('proxy-message', 'Saved.')) {
      settings.values.server = old.server; settings.values.port = old.port; settings.values.token = old.token;
    }
  };

  // --- Acceleration -----------------------------------------------------------------------
  function updateStatus(problem) {
    var v = settings.values, status = el('status'), toggle = el('toggle');
    toggle.textContent = v.enabled ? 'Stop acceleration' : 'Start acceleration';
    toggle.className = 'primary big' + (v.enabled ? ' running' : '');
    if (problem) {
      status.textContent = 'Acceleration could not start';
      status.className = 'status-text error';
      el('status-detail').textContent = problem;
    } else if (v.enabled) {
      status.textContent = 'Accelerating';
      status.className = 'status-text on';
      var n = v.processes.length;
      el('status-detail').textContent = (n ? n + (n === 1 ? ' program' : ' programs') : 'No programs') +
          ' through ' + v.server + ':' + v.port;
    } else {
      status.textContent = 'Not accelerating';
      status.className = 'status-text';
      el('status-detail').textContent = 'Choose your programs and proxy server, then start.';
    }
  }

  function notify(text) {
    host.call('InsertPair', 'ui.notification', text);
    host.call('NewInstance', 0, 'notify.html', '.container');
  }

  function start() {
    var v = settings.values;
    if (!v.server || !v.port) return updateStatus('Save a proxy server and port first.');
    el('toggle').disabled = true;
    el('status-detail').textContent = 'Starting the backend service\u2026';
    // Let the page show that before the (blocking) start.
    setTimeout(function () {
      var ok = host.call('InitService');
      el('toggle').disabled = false;
      if (!ok) {
        // A refused start leaves its connection to the service open; close it, so that the next
        // start begins afresh.
        host.call('PipeClientDisconnect', SERVICE_PIPE);
        report('acc', 'error');
        return updateStatus('The backend service did not start or did not install the network component.' +
                            (host.lastError ? ' (' + host.lastError + ')' : ''));
      }
      v.enabled = true;
      settings.save();
      settings.publish();
      updateStatus();
      report('acc', 'start');
      host.call('ShowTip', 'Morvil Accelerator', 'Acceleration is on.', 3000);
      notify('Acceleration is on');
      pingNow();
    }, 30);
  }

  function stop() {
    settings.values.enabled = false;
    settings.save();
    settings.publish();
    updateStatus();
    report('acc', 'stop');
  }

  el('toggle').onclick = function () { if (settings.values.enabled) stop(); else start(); };

  // --- Latency ----------------------------------------------------------------------------
  function pingNow() {
    var server = settings.values.server;
    if (!server || UI.pingHandler) return;
    UI.pingHandler = function (average, quenches) { latency.show(average); };
    host.call('Ping', server, 3, 1000);
  }
  setInterval(pingNow, PING_EVERY_MS);

  // --- Traffic ----------------------------------------------------------------------------
  var lastTotals = null;
  function bytes(n) {
    var units = ['B', 'KB', 'MB', 'GB'], i = 0;
    while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
    return (i ? n.toFixed(1) : String(Math.round(n))) + ' ' + units[i];
  }
  function unsigned(n) { return n < 0 ? n + 4294967296 : n; }
  function trafficNow() {
    if (!host.call('GetNetworkInfo')) return;
    var down = unsigned(host.call('GetCurrDownloadTotal')), up = unsigned(host.call('GetCurrUploadTotal'));
    var now = Date.now();
    if (lastTotals) {
      var seconds = Math.max((now - lastTotals.at) / 1000, 0.001);
      // Counters are 32 bits: a wrap shows as a smaller number.
      var dd = (down - lastTotals.down + 4294967296) % 4294967296;
      var du = (up - lastTotals.up + 4294967296) % 4294967296;
      el('down-rate').textContent = bytes(dd / seconds) + '/s';
      el('up-rate').textContent = bytes(du / seconds) + '/s';
    }
    el('down-total').textContent = bytes(down);
    el('up-total').textContent = bytes(up);
    lastTotals = { down: down, up: up, at: now };
  }
  setInterval(trafficNow, TRAFFIC_EVERY_MS);

  // --- System proxy -----------------------------------------------------------------------
  function showSystemProxy() {
    var type = host.call('GetProxyType');
    var auto = type === 5;
    el('system-proxy').checked = auto;
    say('system-proxy-message', auto ? 'Other programs use the automatic proxy configuration.'
                                     : 'Other programs connect directly.', 'muted');
  }
  el('system-proxy').onchange = function () {
    var on = el('system-proxy').checked, url = el('pac-url').value.trim();
    if (on) {
      if (!/^https?:\/\/\S+$/.test(url)) {
        el('system-proxy').checked = false;
        return say('system-proxy-message', 'Enter the address of a proxy configuration (PAC) file first.', 'error');
      }
      settings.values.pacUrl = url;
      settings.save();
      host.call('SetAutoConfigProxy', url);
    } else {
      host.call('DisableProxy');
    }
    showSystemProxy();
  };

  // --- Start-up ---------------------------------------------------------------------------
  settings.load();
  el('server').value = settings.values.server;
  el('port').value = settings.values.port;
  el('token').value = settings.values.token;
  el('pac-url').value = settings.values.pacUrl;
  var wasEnabled = settings.values.enabled;
  settings.values.enabled = false;
  settings.publish();
  renderPrograms();
  updateStatus();
  window.addEventListener('load', function () {
    // What is not needed for the first picture comes once the window is up.
    setTimeout(function () { showSystemProxy(); trafficNow(); }, 150);
    host.call('SetWindowRound', 14, 1, 1);
    host.call('ShowTray', 'Morvil Accelerator', 'Open,' + MENU_OPEN + ',Exit,' + MENU_EXIT);
    if (wasEnabled) setTimeout(start, 300);
  });
})();
