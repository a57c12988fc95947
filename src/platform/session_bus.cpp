#include "platform/session_bus.h"

#include <gio/gio.h>

#include <string>

#include "base/gobject_ptr.h"

namespace {

// Without an address GLib would try the runtime directory's socket and then start a bus of its
// own through X11 autolaunch; a bus nobody else uses shows no icon, so only the first is taken.
bool SessionBusReachable() {
  if (g_getenv("DBUS_SESSION_BUS_ADDRESS")) return true;
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  return runtime && g_file_test((std::string(runtime) + "/bus").c_str(), G_FILE_TEST_EXISTS);
}

}  // namespace

GDBusConnection* SessionBus() {
  // Kept for the life of the process: the icon and notifications live on it until exit.
  static GDBusConnection* const bus = []() -> GDBusConnection* {
    if (!SessionBusReachable()) return nullptr;
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    GErrorPtr owned(error);
    return connection;
  }();
  return bus;
}

void FlushSessionBus() {
  if (GDBusConnection* bus = SessionBus()) g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}
