// The host side of the script bridge. It listens on a private socket that each web process's
// extension connects to (proving itself with a secret handed over in the extension's start-up
// data), and serves their calls on the UI thread: each call goes to the page dialog whose page
// made it. A connection is not served again while one of its calls runs, so a call that runs a
// nested loop (a modal window) holds its own page, while other pages' calls are served.
#pragma once

typedef struct _WebKitWebContext WebKitWebContext;

// Makes the browser context load the bridge extension and tells it where to connect. Once per
// context, on the UI thread. False when the bridge could not be set up (pages then have no
// host object).
bool AttachScriptBridge(WebKitWebContext* context);
