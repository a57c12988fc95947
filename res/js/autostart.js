// "Start with my desktop session": an autostart entry in the user's startup folder that starts
// morvil in the tray at login. Off until the user turns it on here; turning it off removes it.
(function () {
  var el = function (id) { return document.getElementById(id); };
  var HINT = 'in the tray, when you log in';

  function folder() { return host.call('GetUserStartupPath') || ''; }
  function entry() { return folder() + '/Morvil Accelerator.desktop'; }
  function say(text, kind) {
    var m = el('autostart-message');
    m.textContent = text;
    m.className = kind || 'muted';
  }
  function show() {
    el('autostart').checked = !!folder() && !!host.call('FileExists', entry());
    say(HINT);
  }

  el('autostart').onchange = function () {
    var on = el('autostart').checked, ok = false;
    if (on && folder()) {
      if (!host.call('DirectoryExist', folder())) host.call('CreateDirectory', folder());
      ok = host.call('CreateShortcut', host.call('GetAppCurrentPath') + '/morvil', entry(), 'tray',
                     '', '', '');
    } else if (!on) {
      ok = host.call('DeleteFile', entry()) || !host.call('FileExists', entry());
    }
    show();
    if (!ok) say('The autostart entry could not be ' + (on ? 'written' : 'removed') +
                 (host.lastError ? ' (' + host.lastError + ')' : '') + '.', 'error');
  };
  show();
})();
