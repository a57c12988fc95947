#include "framework/session_end.h"

#include <gio/gio.h>
#include <glib-unix.h>

#include <csignal>

namespace {

struct Watch {
  std::function<void(bool)> on_end;
  bool fired = false;
  GDBusProxy* client = nullptr;  // the session manager's client object, when registered
};

Watch& TheWatch() {
  static Watch* watch = new Watch;
  return *watch;
}

void Fire(bool terminate) {
  Watch& watch = TheWatch();
  if (watch.fired) return;
  watch.fired = true;
  watch.on_end(terminate);
}

gboolean OnSigterm(gpointer) {
  Fire(/*terminate=*/true);
  return G_SOURCE_REMOVE;
}

void OnShutdownSignal(GDBusConnection*, const char*, const char*, const char*, const char*,
                      GVariant* parameters, gpointer) {
  gboolean start = FALSE;
  g_variant_get(parameters, "(b)", &start);
  if (start) Fire(/*terminate=*/false);
}

void OnClientSignal(GDBusProxy* proxy, const char*, const char* signal, GVariant*, gpointer) {
  if (g_strcmp0(signal, "QueryEndSession") == 0 || g_strcmp0(signal, "EndSession") == 0) {
    if (g_strcmp0(signal, "EndSession") == 0) Fire(/*terminate=*/false);
    g_dbus_proxy_call(proxy, "EndSessionResponse", g_variant_new("(bs)", TRUE, ""),
                      G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
  } else if (g_strcmp0(signal, "Stop") == 0) {
    Fire(/*terminate=*/true);
  }
}

void OnClientRegistered(GObject* source, GAsyncResult* result, gpointer) {
  GVariant* reply = g_dbus_proxy_call_finish(G_DBUS_PROXY(source), result, nullptr);
  g_object_unref(source);
  if (!reply) return;  // no session manager: SIGTERM and logind remain
  const char* path = nullptr;
  g_variant_get(reply, "(&o)", &path);
  TheWatch().client = g_dbus_proxy_new_for_bus_sync(
      G_BUS_TYPE_SESSION, G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES, nullptr,
      "org.gnome.SessionManager", path, "org.gnome.SessionManager.ClientPrivate", nullptr, nullptr);
  if (TheWatch().client)
    g_signal_connect(TheWatch().client, "g-signal", G_CALLBACK(OnClientSignal), nullptr);
  g_variant_unref(reply);
}

void OnSessionManager(GObject*, GAsyncResult* result, gpointer) {
  GDBusProxy* manager = g_dbus_proxy_new_for_bus_finish(result, nullptr);
  if (!manager) return;
  char* owner = g_dbus_proxy_get_name_owner(manager);
  if (!owner) {
    g_object_unref(manager);
    return;
  }
  g_free(owner);
  g_dbus_proxy_call(manager, "RegisterClient", g_variant_new("(ss)", "morvil", ""),
                    G_DBUS_CALL_FLAGS_NONE, -1, nullptr, OnClientRegistered, nullptr);
}

void OnSystemBus(GObject*, GAsyncResult* result, gpointer) {
  GDBusConnection* bus = g_bus_get_finish(result, nullptr);
  if (!bus) return;  // no system bus (a container): SIGTERM remains
  g_dbus_connection_signal_subscribe(bus, "org.freedesktop.login1",
                                     "org.freedesktop.login1.Manager", "PrepareForShutdown",
                                     "/org/freedesktop/login1", nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                     OnShutdownSignal, nullptr, nullptr);
}

}  // namespace

void WatchSessionEnd(std::function<void(bool)> on_end) {
  TheWatch().on_end = std::move(on_end);
  g_unix_signal_add(SIGTERM, OnSigterm, nullptr);
  g_bus_get(G_BUS_TYPE_SYSTEM, nullptr, OnSystemBus, nullptr);
  g_dbus_proxy_new_for_bus(G_BUS_TYPE_SESSION, G_DBUS_PROXY_FLAGS_DO_NOT_LOAD_PROPERTIES, nullptr,
                           "org.gnome.SessionManager", "/org/gnome/SessionManager",
                           "org.gnome.SessionManager", nullptr, OnSessionManager, nullptr);
}
