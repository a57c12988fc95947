// The host side of the script bridge. It listens on a private socket that each web process's
// extension connects to (proving itself with a secret handed over in the extension's start-up
// data), and serves their calls on the UI thread: each call goes to the page dialog whose page
// made it. A connection is not served again while one of its calls runs, so a call that runs a
// nested loop (a modal window) holds its own page, while other pages' calls are served.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

typedef struct _WebKitWebContext WebKitWebContext;

// Makes the browser context load the bridge extension and tells it where to connect. Once per
// context, on the UI thread. False when the bridge could not be set up (pages then have no
// host object).
bool AttachScriptBridge(WebKitWebContext* context);

// UI thread. While a call of the page `page_id` is being served, runs `script` in that page's
// main frame (its script thread waits in the call and evaluates it there) and returns the value
// as JSON; an empty text when the script failed. Nullopt when the page is in no call or did not
// answer within two seconds.
[[nodiscard]] std::optional<std::string> QueryPageInCall(uint64_t page_id, std::string_view script);
