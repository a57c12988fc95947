#include "platform/status_notifier_item.h"

#include <gio/gio.h>
#include <unistd.h>

#include <string>

#include "base/gobject_ptr.h"

namespace {

constexpr char kItemPath[] = "/StatusNotifierItem";
constexpr char kMenuPath[] = "/MenuBar";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr int kCallTimeoutMs = 5000;

constexpr char kIntrospection[] = R"(<node>
<interface name='org.kde.StatusNotifierItem'>
 <property name='Category' type='s' access='read'/>
 <property name='Id' type='s' access='read'/>
 <property name='Title' type='s' access='read'/>
 <property name='Status' type='s' access='read'/>
 <property name='WindowId' type='i' access='read'/>
 <property name='IconName' type='s' access='read'/>
 <property name='IconThemePath' type='s' access='read'/>
 <property name='OverlayIconName' type='s' access='read'/>
 <property name='AttentionIconName' type='s' access='read'/>
 <property name='ToolTip' type='(sa(iiay)ss)' access='read'/>
 <property name='ItemIsMenu' type='b' access='read'/>
 <property name='Menu' type='o' access='read'/>
 <method name='ContextMenu'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>
 <method name='Activate'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>
 <method name='SecondaryActivate'><arg type='i' direction='in'/><arg type='i' direction='in'/></method>
 <method name='Scroll'><arg type='i' direction='in'/><arg type='s' direction='in'/></method>
 <signal name='NewTitle'/>
 <signal name='NewIcon'/>
 <signal name='NewToolTip'/>
 <signal name='NewStatus'><arg type='s'/></signal>
</interface>
<interface name='com.canonical.dbusmenu'>
 <property name='Version' type='u' access='read'/>
 <property name='TextDirection' type='s' access='read'/>
 <property name='Status' type='s' access='read'/>
 <property name='IconThemePath' type='as' access='read'/>
 <method name='GetLayout'>
  <arg type='i' direction='in'/><arg type='i' direction='in'/><arg type='as' direction='in'/>
  <arg type='u' direction='out'/><arg type='(ia{sv}av)' direction='out'/>
 </method>
 <method name='GetGroupProperties'>
  <arg type='ai' direction='in'/><arg type='as' direction='in'/>
  <arg type='a(ia{sv})' direction='out'/>
 </method>
 <method name='GetProperty'>
  <arg type='i' direction='in'/><arg type='s' direction='in'/><arg type='v' direction='out'/>
 </method>
 <method name='Event'>
  <arg type='i' direction='in'/><arg type='s' direction='in'/><arg type='v' direction='in'/>
  <arg type='u' direction='in'/>
 </method>
 <method name='EventGroup'><arg type='a(isvu)' direction='in'/><arg type='ai' direction='out'/></method>
 <method name='AboutToShow'><arg type='i' direction='in'/><arg type='b' direction='out'/></method>
 <method name='AboutToShowGroup'>
  <arg type='ai' direction='in'/><arg type='ai' direction='out'/><arg type='ai' direction='out'/>
 </method>
 <signal name='ItemsPropertiesUpdated'><arg type='a(ia{sv})'/><arg type='a(ias)'/></signal>
 <signal name='LayoutUpdated'><arg type='u'/><arg type='i'/></signal>
 <signal name='ItemActivationRequested'><arg type='i'/><arg type='u'/></signal>
</interface>
</node>)";

GDBusNodeInfo* NodeInfo() {
  static GDBusNodeInfo* const info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return info;
}

// The dbusmenu label marks a mnemonic with '_'; a page's text is shown as written.
std::string MenuLabel(const Text& text) {
  std::string label;
  for (char c : ToUtf8(text)) {
    label += c;
    if (c == '_') label += '_';
  }
  return label;
}

}  // namespace

struct StatusNotifierItem::Impl {
  GDBusConnection* bus;
  Handlers handlers;
  std::string bus_name;
  GObjectPtr<GCancellable> cancellable = GObjectPtr<GCancellable>::adopt(g_cancellable_new());
  unsigned item_registration = 0;
  unsigned menu_registration = 0;
  unsigned name_owner = 0;
  bool name_acquired = false;
  std::string icon_file;
  std::string tooltip;
  StatusIconMenu menu;
  unsigned revision = 1;

  GVariant* ItemProperty(const char* name) const;
  GVariant* MenuProperty(const char* name) const;
  GVariant* MenuItemProperties(int id) const;
  GVariant* Layout(int parent) const;
  void OnItemCall(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation);
  void OnMenuCall(const char* method, GVariant* parameters, GDBusMethodInvocation* invocation);
  void MenuEvent(int id, const char* event);
  void Emit(const char* path, const char* interface, const char* signal, GVariant* parameters);
  void Register();

  static void OnMethodCall(GDBusConnection*, const char*, const char*, const char* interface,
                           const char* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer data);
  static GVariant* OnGetProperty(GDBusConnection*, const char*, const char*, const char* interface,
                                 const char* property, GError** error, gpointer data);
  static const GDBusInterfaceVTable kVTable;
};

void StatusNotifierItem::Impl::OnMethodCall(GDBusConnection*, const char*, const char*,
                                            const char* interface, const char* method,
                                            GVariant* parameters, GDBusMethodInvocation* invocation,
                                            gpointer data) {
  auto* impl = static_cast<Impl*>(data);
  if (g_strcmp0(interface, kMenuInterface) == 0)
    impl->OnMenuCall(method, parameters, invocation);
  else
    impl->OnItemCall(method, parameters, invocation);
}

GVariant* StatusNotifierItem::Impl::OnGetProperty(GDBusConnection*, const char*, const char*,
                                                  const char* interface, const char* property,
                                                  GError** error, gpointer data) {
  auto* impl = static_cast<Impl*>(data);
  GVariant* value = g_strcmp0(interface, kMenuInterface) == 0 ? impl->MenuProperty(property)
                                                              : impl->ItemProperty(property);
  if (!value)
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
  return value;
}

const GDBusInterfaceVTable StatusNotifierItem::Impl::kVTable = {
    OnMethodCall, OnGetProperty, nullptr, {}};

GVariant* StatusNotifierItem::Impl::ItemProperty(const char* name) const {
  const std::string_view n = name;
  if (n == "Category") return g_variant_new_string("ApplicationStatus");
  if (n == "Id") return g_variant_new_string("morvil");
  if (n == "Title") return g_variant_new_string(tooltip.c_str());
  if (n == "Status") return g_variant_new_string("Active");
  if (n == "WindowId") return g_variant_new_int32(0);
  // Hosts take an absolute file as the icon's name; the directory serves those that look the
  // name up in a theme path instead.
  if (n == "IconName") return g_variant_new_string(icon_file.c_str());
  if (n == "IconThemePath") {
    GCharPtr dir(g_path_get_dirname(icon_file.empty() ? "." : icon_file.c_str()));
    return g_variant_new_string(icon_file.empty() ? "" : dir.get());
  }
  if (n == "OverlayIconName" || n == "AttentionIconName") return g_variant_new_string("");
  if (n == "ToolTip")
    return g_variant_new("(s@a(iiay)ss)", icon_file.c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0), tooltip.c_str(),
                         "");
  if (n == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (n == "Menu") return g_variant_new_object_path(kMenuPath);
  return nullptr;
}

GVariant* StatusNotifierItem::Impl::MenuProperty(const char* name) const {
  const std::string_view n = name;
  if (n == "Version") return g_variant_new_uint32(3);
  if (n == "TextDirection") return g_variant_new_string("ltr");
  if (n == "Status") return g_variant_new_string("normal");
  if (n == "IconThemePath") return g_variant_new_strv(nullptr, 0);
  return nullptr;
}

// Menu item ids are 1-based positions (command numbers may repeat); 0 is the root.
GVariant* StatusNotifierItem::Impl::MenuItemProperties(int id) const {
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  if (id == 0) {
    g_variant_builder_add(&props, "{sv}", "children-display", g_variant_new_string("submenu"));
  } else {
    const StatusIconMenuEntry& entry = menu[static_cast<size_t>(id - 1)];
    g_variant_builder_add(&props, "{sv}", "label",
                          g_variant_new_string(MenuLabel(entry.label).c_str()));
    g_variant_builder_add(&props, "{sv}", "enabled", g_variant_new_boolean(TRUE));
    g_variant_builder_add(&props, "{sv}", "visible", g_variant_new_boolean(TRUE));
  }
  return g_variant_builder_end(&props);
}

GVariant* StatusNotifierItem::Impl::Layout(int parent) const {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  if (parent == 0) {
    for (size_t i = 0; i < menu.size(); ++i) {
      const int id = static_cast<int>(i + 1);
      GVariant* child = g_variant_new("(i@a{sv}@av)", id, MenuItemProperties(id),
                                      g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0));
      g_variant_builder_add(&children, "v", child);
    }
  }
  return g_variant_new("(i@a{sv}av)", parent, MenuItemProperties(parent), &children);
}

void StatusNotifierItem::Impl::OnItemCall(const char* method, GVariant*,
                                          GDBusMethodInvocation* invocation) {
  const std::string_view m = method;
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (m == "Activate") {
    if (handlers.activate) handlers.activate();
  } else if (m == "ContextMenu") {
    if (handlers.context_menu) handlers.context_menu();
  }
}

void StatusNotifierItem::Impl::OnMenuCall(const char* method, GVariant* parameters,
                                          GDBusMethodInvocation* invocation) {
  const std::string_view m = method;
  auto known = [this](int id) { return id >= 0 && static_cast<size_t>(id) <= menu.size(); };
  if (m == "GetLayout") {
    int parent = 0, depth = 0;
    g_variant_get(parameters, "(ii^a&s)", &parent, &depth, nullptr);
    if (!known(parent)) {
      g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error",
                                                 "no such item");
      return;
    }
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(u@(ia{sv}av))", revision, Layout(parent)));
  } else if (m == "GetGroupProperties") {
    GVariantIter* ids = nullptr;
    g_variant_get(parameters, "(ai^a&s)", &ids, nullptr);
    GVariantBuilder out;
    g_variant_builder_init(&out, G_VARIANT_TYPE("a(ia{sv})"));
    int id = 0;
    while (g_variant_iter_next(ids, "i", &id))
      if (known(id)) g_variant_builder_add(&out, "(i@a{sv})", id, MenuItemProperties(id));
    g_variant_iter_free(ids);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &out));
  } else if (m == "GetProperty") {
    int id = 0;
    const char* name = nullptr;
    g_variant_get(parameters, "(i&s)", &id, &name);
    GVariant* props = known(id) ? MenuItemProperties(id) : nullptr;
    GVariant* value = props ? g_variant_lookup_value(props, name, nullptr) : nullptr;
    if (props) g_variant_unref(g_variant_ref_sink(props));
    if (!value) {
      g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error",
                                                 "no such property");
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    g_variant_unref(value);
  } else if (m == "Event") {
    int id = 0;
    const char* event = nullptr;
    g_variant_get(parameters, "(i&svu)", &id, &event, nullptr, nullptr);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    MenuEvent(id, event);
  } else if (m == "EventGroup") {
    GVariantIter* events = nullptr;
    g_variant_get(parameters, "(a(isvu))", &events);
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    std::vector<std::pair<int, std::string>> chosen;
    int id = 0;
    const char* event = nullptr;
    while (g_variant_iter_next(events, "(i&svu)", &id, &event, nullptr, nullptr)) {
      if (known(id))
        chosen.emplace_back(id, event);
      else
        g_variant_builder_add(&errors, "i", id);
    }
    g_variant_iter_free(events);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
    for (auto& [item, name] : chosen) MenuEvent(item, name.c_str());
  } else if (m == "AboutToShow") {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
  } else if (m == "AboutToShowGroup") {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(aiai)", nullptr, nullptr));
  } else {
    g_dbus_method_invocation_return_dbus_error(invocation,
                                               "org.freedesktop.DBus.Error.UnknownMethod", method);
  }
}

void StatusNotifierItem::Impl::MenuEvent(int id, const char* event) {
  if (g_strcmp0(event, "clicked") != 0 || id < 1 || static_cast<size_t>(id) > menu.size()) return;
  if (handlers.menu_chosen) handlers.menu_chosen(menu[static_cast<size_t>(id - 1)].command);
}

void StatusNotifierItem::Impl::Emit(const char* path, const char* interface, const char* signal,
                                    GVariant* parameters) {
  g_dbus_connection_emit_signal(bus, nullptr, path, interface, signal, parameters, nullptr);
}

void StatusNotifierItem::Impl::Register() {
  if (!name_acquired) return;  // registration follows once the name is ours
  g_dbus_connection_call(
      bus, kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
      g_variant_new("(s)", bus_name.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
      kCallTimeoutMs, cancellable.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        GErrorPtr owned(error);
        if (reply) g_variant_unref(reply);
        if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
        auto* impl = static_cast<Impl*>(data);
        if (impl->handlers.registered) impl->handlers.registered(reply != nullptr);
      },
      this);
}

StatusNotifierItem::StatusNotifierItem(GDBusConnection* bus, Handlers handlers)
    : impl_(std::make_unique<Impl>()) {
  static unsigned serial = 0;
  impl_->bus = bus;
  impl_->handlers = std::move(handlers);
  impl_->bus_name =
      "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  GDBusNodeInfo* info = NodeInfo();
  impl_->item_registration = g_dbus_connection_register_object(
      bus, kItemPath, g_dbus_node_info_lookup_interface(info, kItemInterface), &Impl::kVTable,
      impl_.get(), nullptr, nullptr);
  impl_->menu_registration = g_dbus_connection_register_object(
      bus, kMenuPath, g_dbus_node_info_lookup_interface(info, kMenuInterface), &Impl::kVTable,
      impl_.get(), nullptr, nullptr);
  impl_->name_owner = g_bus_own_name_on_connection(
      bus, impl_->bus_name.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
      [](GDBusConnection*, const char*, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        impl->name_acquired = true;
        impl->Register();
      },
      [](GDBusConnection*, const char*, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        if (impl->handlers.registered) impl->handlers.registered(false);
      },
      impl_.get(), nullptr);
}

StatusNotifierItem::~StatusNotifierItem() {
  g_cancellable_cancel(impl_->cancellable.get());
  g_bus_unown_name(impl_->name_owner);
  if (impl_->item_registration)
    g_dbus_connection_unregister_object(impl_->bus, impl_->item_registration);
  if (impl_->menu_registration)
    g_dbus_connection_unregister_object(impl_->bus, impl_->menu_registration);
}

void StatusNotifierItem::Register() {
  impl_->Register();
}

void StatusNotifierItem::Update(const Text& icon_file, const Text& tooltip,
                                const StatusIconMenu& menu) {
  Impl& d = *impl_;
  const std::string icon = ToUtf8(icon_file), tip = ToUtf8(tooltip);
  const bool icon_changed = icon != d.icon_file, tip_changed = tip != d.tooltip;
  d.icon_file = icon;
  d.tooltip = tip;
  d.menu = menu;
  ++d.revision;
  if (icon_changed) d.Emit(kItemPath, kItemInterface, "NewIcon", nullptr);
  if (tip_changed) {
    d.Emit(kItemPath, kItemInterface, "NewToolTip", nullptr);
    d.Emit(kItemPath, kItemInterface, "NewTitle", nullptr);
  }
  d.Emit(kMenuPath, kMenuInterface, "LayoutUpdated", g_variant_new("(ui)", d.revision, 0));
}
