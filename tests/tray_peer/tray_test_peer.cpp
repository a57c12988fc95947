// A stand-in for the desktop on a private session bus, for end-to-end tests: it owns
// org.kde.StatusNotifierWatcher and org.freedesktop.Notifications and writes one line per call
// it receives to the log file given as its argument:
//   ready
//   item<TAB>sender<TAB>service
//   notify<TAB>app<TAB>summary<TAB>body<TAB>timeout<TAB>id
//   close<TAB>id
#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kIntrospection[] = R"(<node>
<interface name='org.kde.StatusNotifierWatcher'>
 <method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>
 <method name='RegisterStatusNotifierHost'><arg type='s' direction='in'/></method>
 <property name='RegisteredStatusNotifierItems' type='as' access='read'/>
 <property name='IsStatusNotifierHostRegistered' type='b' access='read'/>
 <property name='ProtocolVersion' type='i' access='read'/>
 <signal name='StatusNotifierItemRegistered'><arg type='s'/></signal>
</interface>
<interface name='org.freedesktop.Notifications'>
 <method name='Notify'>
  <arg type='s' direction='in'/><arg type='u' direction='in'/><arg type='s' direction='in'/>
  <arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='as' direction='in'/>
  <arg type='a{sv}' direction='in'/><arg type='i' direction='in'/><arg type='u' direction='out'/>
 </method>
 <method name='CloseNotification'><arg type='u' direction='in'/></method>
 <method name='GetCapabilities'><arg type='as' direction='out'/></method>
 <method name='GetServerInformation'>
  <arg type='s' direction='out'/><arg type='s' direction='out'/><arg type='s' direction='out'/>
  <arg type='s' direction='out'/>
 </method>
</interface>
</node>)";

FILE* log_file = nullptr;
GPtrArray* registered_items = nullptr;
uint32_t next_id = 0;
int names_acquired = 0;

void Log(const std::string& line) {
  std::fprintf(log_file, "%s\n", line.c_str());
  std::fflush(log_file);
}

void OnCall(GDBusConnection* bus, const char* sender, const char*, const char*, const char* method,
            GVariant* params, GDBusMethodInvocation* invocation, gpointer) {
  const std::string m = method;
  if (m == "RegisterStatusNotifierItem") {
    const char* service = nullptr;
    g_variant_get(params, "(&s)", &service);
    g_ptr_array_add(registered_items, g_strdup(service));
    Log(std::string("item\t") + sender + "\t" + service);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    g_dbus_connection_emit_signal(bus, nullptr, "/StatusNotifierWatcher",
                                  "org.kde.StatusNotifierWatcher", "StatusNotifierItemRegistered",
                                  g_variant_new("(s)", service), nullptr);
  } else if (m == "RegisterStatusNotifierHost") {
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else if (m == "Notify") {
    const char *app = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    uint32_t replaces = 0;
    int32_t timeout = 0;
    g_variant_get(params, "(&su&s&s&s@as@a{sv}i)", &app, &replaces, &icon, &summary, &body, nullptr,
                  nullptr, &timeout);
    const uint32_t id = replaces ? replaces : ++next_id;
    Log(std::string("notify\t") + app + "\t" + summary + "\t" + body + "\t" +
        std::to_string(timeout) + "\t" + std::to_string(id));
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", id));
  } else if (m == "CloseNotification") {
    uint32_t id = 0;
    g_variant_get(params, "(u)", &id);
    Log("close\t" + std::to_string(id));
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else if (m == "GetCapabilities") {
    const char* caps[] = {"body", nullptr};
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", caps));
  } else {
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(ssss)", "tray-test-peer", "morvil", "1", "1.2"));
  }
}

GVariant* OnGet(GDBusConnection*, const char*, const char*, const char*, const char* property,
                GError**, gpointer) {
  const std::string p = property;
  if (p == "RegisteredStatusNotifierItems") {
    GVariantBuilder items;
    g_variant_builder_init(&items, G_VARIANT_TYPE("as"));
    for (unsigned i = 0; i < registered_items->len; ++i)
      g_variant_builder_add(&items, "s", static_cast<const char*>(registered_items->pdata[i]));
    return g_variant_builder_end(&items);
  }
  if (p == "IsStatusNotifierHostRegistered") return g_variant_new_boolean(TRUE);
  return g_variant_new_int32(0);
}

const GDBusInterfaceVTable kVTable = {OnCall, OnGet, nullptr, {}};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s LOG\n", argv[0]);
    return 2;
  }
  log_file = std::fopen(argv[1], "a");
  if (!log_file) return 1;
  registered_items = g_ptr_array_new_with_free_func(g_free);
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) return 1;
  GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  g_dbus_connection_register_object(bus, "/StatusNotifierWatcher", info->interfaces[0], &kVTable,
                                    nullptr, nullptr, nullptr);
  g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", info->interfaces[1],
                                    &kVTable, nullptr, nullptr, nullptr);
  auto acquired = [](GDBusConnection*, const char*, gpointer) {
    if (++names_acquired == 2) Log("ready");
  };
  auto lost = [](GDBusConnection*, const char* name, gpointer) {
    std::fprintf(stderr, "could not own %s\n", name);
    std::exit(1);
  };
  g_bus_own_name_on_connection(bus, "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
                               acquired, lost, nullptr, nullptr);
  g_bus_own_name_on_connection(bus, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
                               acquired, lost, nullptr, nullptr);
  g_main_loop_run(g_main_loop_new(nullptr, FALSE));
  return 0;
}
