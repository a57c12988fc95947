#include "platform/status_icon.h"

#include <gio/gio.h>

#include "platform/session_bus.h"
#include "platform/status_notifier_item.h"
#include "platform/xembed_tray_icon.h"

namespace {
constexpr char kWatcherName[] = "org.kde.StatusNotifierWatcher";
}

struct StatusIcon::Impl {
  Handlers handlers;
  GDBusConnection* bus = SessionBus();
  unsigned watcher_watch = 0;
  bool visible = false;
  Text icon_file;
  Text tooltip;
  StatusIconMenu menu;
  std::unique_ptr<StatusNotifierItem> item;
  std::unique_ptr<XEmbedTrayIcon> xembed;

  void Apply() {
    if (bus && !item) {
      item = std::make_unique<StatusNotifierItem>(
          bus, StatusNotifierItem::Handlers{handlers.activate, handlers.context_menu,
                                            handlers.menu_chosen,
                                            [this](bool ok) { OnRegistered(ok); }});
    }
    if (item) item->Update(icon_file, tooltip, menu);
    if (!bus) ShowInXEmbedTray();
    if (xembed) xembed->Update(icon_file, tooltip);
  }
  void OnRegistered(bool ok) {
    if (!visible) return;
    if (ok)
      xembed.reset();  // the watcher's host shows the icon now
    else
      ShowInXEmbedTray();
  }
  void ShowInXEmbedTray() {
    if (xembed) return;
    xembed = std::make_unique<XEmbedTrayIcon>(
        XEmbedTrayIcon::Handlers{handlers.activate, handlers.context_menu});
    xembed->Update(icon_file, tooltip);
  }
};

StatusIcon::StatusIcon(Handlers handlers) : impl_(std::make_unique<Impl>()) {
  impl_->handlers = std::move(handlers);
  if (!impl_->bus) return;
  impl_->watcher_watch = g_bus_watch_name_on_connection(
      impl_->bus, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
      [](GDBusConnection*, const char*, const char*, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        if (impl->visible && impl->item) impl->item->Register();
      },
      [](GDBusConnection*, const char*, gpointer data) {
        auto* impl = static_cast<Impl*>(data);
        if (impl->visible && impl->item) impl->ShowInXEmbedTray();
      },
      impl_.get(), nullptr);
}

StatusIcon::~StatusIcon() {
  if (impl_->watcher_watch) g_bus_unwatch_name(impl_->watcher_watch);
}

void StatusIcon::Show(const Text& icon_file, const Text& tooltip, const StatusIconMenu& menu) {
  impl_->visible = true;
  impl_->icon_file = icon_file;
  impl_->tooltip = tooltip;
  impl_->menu = menu;
  impl_->Apply();
}

void StatusIcon::Hide() {
  impl_->visible = false;
  impl_->item.reset();
  impl_->xembed.reset();
}
