#include "platform/xembed_tray_icon.h"

#include <gtk/gtk.h>

#include "base/gobject_ptr.h"

// GtkStatusIcon is deprecated in GTK 3 only because GTK 4 dropped the XEmbed tray; it is still
// the one maintained implementation of that protocol for GTK 3 programs.
G_GNUC_BEGIN_IGNORE_DEPRECATIONS

struct XEmbedTrayIcon::Impl {
  Handlers handlers;
  GObjectPtr<GtkStatusIcon> icon;
  Text icon_file;

  static void OnActivate(GtkStatusIcon*, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (impl->handlers.activate) impl->handlers.activate();
  }
  static void OnPopupMenu(GtkStatusIcon*, guint, guint, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    if (impl->handlers.context_menu) impl->handlers.context_menu();
  }
};

XEmbedTrayIcon::XEmbedTrayIcon(Handlers handlers) : impl_(std::make_unique<Impl>()) {
  impl_->handlers = std::move(handlers);
  impl_->icon = GObjectPtr<GtkStatusIcon>::adopt(gtk_status_icon_new());
  g_signal_connect(impl_->icon.get(), "activate", G_CALLBACK(Impl::OnActivate), impl_.get());
  g_signal_connect(impl_->icon.get(), "popup-menu", G_CALLBACK(Impl::OnPopupMenu), impl_.get());
}

XEmbedTrayIcon::~XEmbedTrayIcon() {
  g_signal_handlers_disconnect_by_data(impl_->icon.get(), impl_.get());
  gtk_status_icon_set_visible(impl_->icon.get(), FALSE);
}

void XEmbedTrayIcon::Update(const Text& icon_file, const Text& tooltip) {
  GtkStatusIcon* icon = impl_->icon.get();
  if (icon_file != impl_->icon_file) {
    impl_->icon_file = icon_file;
    gtk_status_icon_set_from_file(icon, ToUtf8(icon_file).c_str());
  }
  const std::string tip = ToUtf8(tooltip);
  gtk_status_icon_set_tooltip_text(icon, tip.c_str());
  gtk_status_icon_set_title(icon, tip.c_str());
  gtk_status_icon_set_visible(icon, TRUE);
}

G_GNUC_END_IGNORE_DEPRECATIONS
