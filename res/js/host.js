// The native side as the pages use it. Every call goes through `host.call`, so a failing call
// (an exception from the host object) becomes a message for the user instead of a dead page.
var host = {
  ext: window.external,
  lastError: '',
  call: function (name) {
    var args = Array.prototype.slice.call(arguments, 1);
    try {
      return this.ext[name].apply(null, args);
    } catch (e) {
      this.lastError = name + ': ' + (e && e.message ? e.message : e);
      return undefined;
    }
  },
  // Page events by code. Menu commands and the session's end use codes no latency result can
  // take; any other event that arrives while a latency probe is pending is that probe's result.
  handlers: {},
  on: function (code, handler) { this.handlers[code] = handler; }
};

var UI = {
  commandCodes: { 1000: true, 40001: true, 40002: true },
  pingHandler: null,
  onUserMessage: function (code, value) {
    if (UI.pingHandler && !UI.commandCodes[code]) {
      var done = UI.pingHandler;
      UI.pingHandler = null;
      done(code, value);
      return;
    }
    var handler = host.handlers[code];
    if (handler) handler(value);
  }
};
