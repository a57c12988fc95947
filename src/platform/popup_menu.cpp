#include "platform/popup_menu.h"

#include <gtk/gtk.h>

namespace {

struct MenuChoice {
  std::function<void(uint16_t)> chosen;
  uint16_t command;
};

}  // namespace

void PopupMenuAtPointer(const StatusIconMenu& menu, std::function<void(uint16_t)> chosen) {
  if (menu.empty()) return;
  GtkWidget* popup = gtk_menu_new();
  g_object_ref_sink(popup);
  for (const StatusIconMenuEntry& entry : menu) {
    GtkWidget* item = gtk_menu_item_new_with_label(ToUtf8(entry.label).c_str());
    g_signal_connect_data(
        item, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer data) {
          auto* choice = static_cast<MenuChoice*>(data);
          choice->chosen(choice->command);
        }),
        new MenuChoice{chosen, entry.command},
        [](gpointer data, GClosure*) { delete static_cast<MenuChoice*>(data); }, GConnectFlags(0));
    gtk_menu_shell_append(GTK_MENU_SHELL(popup), item);
    gtk_widget_show(item);
  }
  // The menu releases itself once it has closed (after the chosen item's "activate").
  g_signal_connect(popup, "deactivate", G_CALLBACK(+[](GtkMenuShell* shell, gpointer) {
                     g_idle_add(
                         [](gpointer widget) {
                           gtk_widget_destroy(GTK_WIDGET(widget));
                           g_object_unref(widget);
                           return G_SOURCE_REMOVE;
                         },
                         shell);
                   }),
                   nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(popup), nullptr);
}
