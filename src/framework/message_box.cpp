#include "framework/message_box.h"

#include <gtk/gtk.h>

#include <cstdlib>
#include <fstream>

#include "framework/ui_thread.h"
#include "framework/window.h"
#include "framework/window_registry.h"

namespace {

int ShowOnUiThread(HWND owner, const Text& text, const Text& caption) {
  if (const char* log = std::getenv("MORVIL_MESSAGE_BOX_LOG"); log && *log) {
    std::ofstream(log, std::ios::app) << ToUtf8(caption) << '\t' << ToUtf8(text) << '\n';
    return IDOK;
  }
  TopLevelWindow* parent = FindOwnWindow(owner);
  GtkWidget* dialog =
      gtk_message_dialog_new(parent ? parent->gtk_window() : nullptr, GTK_DIALOG_MODAL,
                             GTK_MESSAGE_OTHER, GTK_BUTTONS_OK, "%s", ToUtf8(text).c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), ToUtf8(caption).c_str());
  gtk_dialog_run(GTK_DIALOG(dialog));  // a nested loop, as the platform's box runs one
  gtk_widget_destroy(dialog);
  return IDOK;
}

}  // namespace

int MessageBoxW(HWND owner, const Text& text, const Text& caption, UINT) {
  int result = IDOK;
  RunOnUiAndWait([&] { result = ShowOnUiThread(owner, text, caption); });
  return result;
}
