// The user's session bus, connected once on first use. UI thread only.
#pragma once

typedef struct _GDBusConnection GDBusConnection;

// The connection, or nullptr when no session bus can be reached (it is not retried).
[[nodiscard]] GDBusConnection* SessionBus();
