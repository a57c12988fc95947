// Which acceleration mode is on, asked of the backend service once a second while acceleration
// is on: kernel mode with the programs it accelerates and the bytes that went through the proxy
// for each, or preload mode and why. The service's answer is lines of "key value...":
//   mode kernel|preload, reason <text>, program <pid> <bytes up> <bytes down> <path>,
//   more <n> (programs left out of the answer); other lines are not shown here.
(function () {
  // Its own spelling of the service's pipe name: the same pipe, a connection of its own, so that
  // the start of acceleration, which uses the usual spelling, never meets this one.
  var PIPE = '\\\\.\\pipe\\zrnetworkgamebackendservice';
  var ASK_EVERY_MS = 1000;
  var el = function (id) { return document.getElementById(id); };
  var connected = false;

  function bytes(n) {
    var units = ['B', 'KB', 'MB', 'GB', 'TB'], i = 0;
    while (n >= 1024 && i < units.length - 1) { n /= 1024; i++; }
    return (i ? n.toFixed(1) : String(Math.round(n))) + ' ' + units[i];
  }

  // The answer, or '' when the service cannot be asked.
  function ask() {
    if (!connected) connected = !!host.call('PipeClientConnect', PIPE);
    if (connected && host.call('PipeClientWrite', PIPE, 'status')) {
      var answer = host.call('PipeClientRead', PIPE);
      if (answer) return answer;
    }
    if (connected) host.call('PipeClientDisconnect', PIPE);
    connected = false;
    return '';
  }

  function parse(answer) {
    var status = { mode: '', reason: '', programs: [], more: 0 };
    answer.split('\n').forEach(function (line) {
      var space = line.indexOf(' ');
      var key = space < 0 ? line : line.slice(0, space), rest = space < 0 ? '' : line.slice(space + 1);
      if (key === 'mode') status.mode = rest;
      else if (key === 'reason') status.reason = rest;
      else if (key === 'more') status.more = parseInt(rest, 10) || 0;
      else if (key === 'program') {
        var f = rest.match(/^(\d+) (\d+) (\d+) (.*)$/);
        if (f) status.programs.push({ pid: f[1], up: +f[2], down: +f[3], path: f[4] });
      }
    });
    return status;
  }

  function programItem(p) {
    var item = document.createElement('li');
    var name = document.createElement('span');
    name.className = 'name';
    name.textContent = p.path.split(/[\\\/]/).pop() || p.path;
    name.title = p.path + ' (process ' + p.pid + ')';
    var traffic = document.createElement('span');
    traffic.className = 'muted';
    traffic.textContent = '\u2191 ' + bytes(p.up) + ' \u2193 ' + bytes(p.down);
    item.appendChild(name);
    item.appendChild(traffic);
    return item;
  }

  function note(list, text) {
    var item = document.createElement('li');
    item.className = 'muted note';
    item.textContent = text;
    list.appendChild(item);
  }

  function show(status) {
    var box = el('acceleration'), mode = el('acceleration-mode'), list = el('accelerated');
    list.textContent = '';
    box.hidden = false;
    box.parentNode.classList.add('with-mode');
    if (status.mode === 'kernel') {
      mode.textContent = 'Kernel mode: caught in the network stack';
      mode.className = 'mode on';
      status.programs.forEach(function (p) { list.appendChild(programItem(p)); });
      if (status.more) note(list, 'and ' + status.more + ' more');
      if (!status.programs.length) note(list, 'No listed program is running.');
    } else if (status.mode === 'preload') {
      mode.textContent = 'Preload mode';
      mode.className = 'mode';
      var reason = status.reason || 'kernel mode is not available';
      note(list, reason.charAt(0).toUpperCase() + reason.slice(1) + '.');
      mode.title = 'Programs started with morvil-run, or in a new session, are accelerated; ' +
                   'static programs and a Wine game\'s TCP are not.';
    } else {
      mode.textContent = 'Mode not known';
      mode.className = 'mode error';
      note(list, 'The backend service does not answer.');
    }
    if (status.mode !== 'preload') mode.title = mode.textContent;
  }

  function refresh() {
    if (!settings.values.enabled) {
      el('acceleration').hidden = true;
      el('acceleration').parentNode.classList.remove('with-mode');
      if (connected) host.call('PipeClientDisconnect', PIPE);
      connected = false;
      return;
    }
    show(parse(ask()));
  }
  setInterval(refresh, ASK_EVERY_MS);
})();
