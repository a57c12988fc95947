// The user's settings: an INI file in the user's application-data folder, and the pairs that tell
// the acceleration server which programs to accelerate through which proxy.
var settings = {
  values: { processes: [], server: '', port: '', token: '', pacUrl: '', enabled: false },

  file: function () {
    var dir = host.call('GetUserAppDataPath') + '/morvil';
    if (!host.call('DirectoryExist', dir)) host.call('CreateDirectory', dir);
    return dir + '/morvil.ini';
  },

  load: function () {
    var file = this.file();
    var read = function (section, key) { return host.call('ReadConfig', file, section, key) || ''; };
    var list = read('acc', 'processes');
    this.values.processes = list ? list.split(',').filter(function (p) { return p; }) : [];
    this.values.server = read('acc', 'server');
    this.values.port = read('acc', 'port');
    this.values.token = read('acc', 'token');
    this.values.enabled = read('acc', 'enabled') === '1';
    this.values.pacUrl = read('proxy', 'pac_url');
  },

  // Writes every value; false (and a message in host.lastError) when one could not be written.
  save: function () {
    var file = this.file(), v = this.values, ok = true;
    var write = function (section, key, value) {
      if (!host.call('WriteConfig', file, section, key, value)) ok = false;
    };
    write('acc', 'processes', v.processes.join(','));
    write('acc', 'server', v.server);
    write('acc', 'port', v.port);
    write('acc', 'token', v.token);
    write('acc', 'enabled', v.enabled ? '1' : '0');
    write('proxy', 'pac_url', v.pacUrl);
    return ok;
  },

  // What the acceleration server answers: the listed programs while acceleration is on.
  publish: function () {
    var v = this.values;
    host.call('InsertPair', 'acc.processes', v.enabled ? v.processes.join(',') : '');
    host.call('InsertPair', 'acc.proxy_server', v.server);
    host.call('InsertPair', 'acc.proxy_port', v.port);
    host.call('InsertPair', 'acc.proxy_token', v.token);
  }
};
