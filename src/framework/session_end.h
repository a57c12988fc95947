// Tells when the user's session ends: SIGTERM, the session manager's end-of-session request
// (org.gnome.SessionManager, where one runs) and logind's PrepareForShutdown. `on_end` runs once,
// on the UI thread, whichever comes first. `terminate` says whether the program must end itself
// afterwards (a signal asked it to); otherwise the session's end will end it.
#pragma once

#include <functional>

void WatchSessionEnd(std::function<void(bool terminate)> on_end);
