#include "platform/popup_menu.h"

#include <gtk/gtk.h>

namespace {

struct MenuChoice {
  std::function<void(uint16_t)> chosen;
  uint16_t command;
};

// GTK places a menu, and grabs the pointer and keyboard for it, from the input event that asked
// for it. A menu asked for outside any button event (a desktop's ContextMenu call over D-Bus,
// a tray callback handled after its click) gets a button press made up at the pointer's place.
GdkEvent* TriggerEvent() {
  if (GdkEvent* current = gtk_get_current_event()) {
    const GdkEventType type = gdk_event_get_event_type(current);
    if (type == GDK_BUTTON_PRESS || type == GDK_BUTTON_RELEASE) return current;
    gdk_event_free(current);
  }
  GdkDisplay* display = gdk_display_get_default();
  GdkDevice* pointer =
      display ? gdk_seat_get_pointer(gdk_display_get_default_seat(display)) : nullptr;
  if (!pointer) return nullptr;
  GdkScreen* screen = nullptr;
  int x = 0, y = 0;
  gdk_device_get_position(pointer, &screen, &x, &y);
  GdkEvent* event = gdk_event_new(GDK_BUTTON_PRESS);
  event->button.window = GDK_WINDOW(g_object_ref(gdk_screen_get_root_window(screen)));
  event->button.send_event = TRUE;
  event->button.time = GDK_CURRENT_TIME;
  event->button.x = event->button.x_root = x;
  event->button.y = event->button.y_root = y;
  event->button.button = GDK_BUTTON_SECONDARY;
  gdk_event_set_device(event, pointer);
  return event;
}

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
  GdkEvent* trigger = TriggerEvent();
  gtk_menu_popup_at_pointer(GTK_MENU(popup), trigger);
  if (trigger) gdk_event_free(trigger);
}
