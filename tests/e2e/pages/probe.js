// Test pages record what they saw through the host object itself: probe.save() writes the
// record as JSON beside the program (GetAppCurrentPath), where the test reads it.
var probe = {
  out: {},
  put: function (key, value) { this.out[key] = value; },
  // {ok: result} or {err: number, msg: message}
  call: function (f) {
    try { return { ok: f() }; } catch (e) { return { err: e.number, msg: String(e.message) }; }
  },
  save: function (name) {
    var ext = window.external;
    ext.WriteFileContent(ext.GetAppCurrentPath() + '/' + (name || 'result.json'),
                         JSON.stringify(this.out));
  }
};
