// The least a WebKitGTK program does to show a local page: one window, one view, shown with the
// page's title once the page has loaded. The reference for morvil's start-up time. With
// --sandbox it runs its pages in WebKit's sandbox, as morvil does.
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static void OnTitle(WebKitWebView* view, GParamSpec*, gpointer window) {
  const char* title = webkit_web_view_get_title(view);
  gtk_window_set_title(GTK_WINDOW(window), title ? title : "");
}

static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer window) {
  if (event == WEBKIT_LOAD_FINISHED) gtk_widget_show_all(GTK_WIDGET(window));
}

int main(int argc, char** argv) {
  gdk_set_allowed_backends("x11");
  gtk_init(&argc, &argv);
  const bool sandbox = argc > 2 && g_strcmp0(argv[1], "--sandbox") == 0;
  if (sandbox) {
    webkit_web_context_set_sandbox_enabled(webkit_web_context_get_default(), TRUE);
    --argc;
    ++argv;
  }
  if (argc < 2) return 2;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), 720, 460);
  GtkWidget* view = webkit_web_view_new();
  gtk_container_add(GTK_CONTAINER(window), view);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), window);
  g_signal_connect(view, "notify::title", G_CALLBACK(OnTitle), window);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_main();
  return 0;
}
