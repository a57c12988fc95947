#include "platform/desktop_notification.h"

#include <gio/gio.h>

#include "base/gobject_ptr.h"
#include "platform/session_bus.h"

namespace {

constexpr char kServer[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
constexpr int kCallTimeoutMs = 5000;

void CloseNotification(GDBusConnection* bus, uint32_t id) {
  g_dbus_connection_call(bus, kServer, kPath, kServer, "CloseNotification",
                         g_variant_new("(u)", id), nullptr, G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                         nullptr, nullptr, nullptr);
}

}  // namespace

struct DesktopNotification::Impl {
  GDBusConnection* bus = SessionBus();
  uint32_t id = 0;       // the server's number for the notification shown, 0 for none
  unsigned pending = 0;  // Notify calls not yet answered
  unsigned generation = 0;
  bool close_when_answered = false;

  // The server's answer to the Show of `show_generation`.
  void OnShown(uint32_t new_id, unsigned show_generation) {
    --pending;
    if (show_generation != generation || close_when_answered) {
      // Superseded or closed while the call was on its way.
      if (new_id) CloseNotification(bus, new_id);
      if (pending == 0) close_when_answered = false;
      return;
    }
    id = new_id;
  }
};

DesktopNotification::DesktopNotification() : impl_(std::make_shared<Impl>()) {}

DesktopNotification::~DesktopNotification() {
  Close();
}

void DesktopNotification::Show(const Text& app_name, const Text& icon_file, const Text& summary,
                               const Text& body, int32_t timeout_ms) {
  Impl& d = *impl_;
  if (!d.bus) return;
  d.close_when_answered = false;
  const unsigned generation = ++d.generation;
  ++d.pending;
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
  GVariant* args =
      g_variant_new("(susss@asa{sv}i)", ToUtf8(app_name).c_str(), d.id, ToUtf8(icon_file).c_str(),
                    ToUtf8(summary).c_str(), ToUtf8(body).c_str(), g_variant_new_strv(nullptr, 0),
                    &hints, timeout_ms > 0 ? timeout_ms : -1);
  struct Call {
    std::weak_ptr<Impl> owner;
    unsigned generation;
  };
  g_dbus_connection_call(
      d.bus, kServer, kPath, kServer, "Notify", args, G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
      kCallTimeoutMs, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Call> call(static_cast<Call*>(data));
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        GErrorPtr owned(error);
        uint32_t id = 0;
        if (reply) {
          g_variant_get(reply, "(u)", &id);
          g_variant_unref(reply);
        }
        if (auto impl = call->owner.lock())
          impl->OnShown(id, call->generation);
        else if (id)  // the notification's owner is gone: so is the notification
          CloseNotification(G_DBUS_CONNECTION(source), id);
      },
      new Call{impl_, generation});
}

void DesktopNotification::Close() {
  Impl& d = *impl_;
  if (!d.bus) return;
  if (d.pending) d.close_when_answered = true;
  if (d.id) CloseNotification(d.bus, d.id);
  d.id = 0;
}
