// The user's session bus, connected once on first use. UI thread only.
#pragma once

typedef struct _GDBusConnection GDBusConnection;

// The connection, or nullptr when no session bus can be reached (it is not retried).
[[nodiscard]] GDBusConnection* SessionBus();

// Sends whatever is queued for the session bus now, waiting until it has been written. For the
// last messages before the process ends.
void FlushSessionBus();
