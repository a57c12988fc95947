#include "framework/application.h"

#include <gtk/gtk.h>

#include <clocale>

#include <unistd.h>

#include "framework/ui_thread.h"

namespace {
Application* g_application = nullptr;
}

Application::Application() {
  g_application = this;
}

Application::~Application() {
  if (g_application == this) g_application = nullptr;
}

Application* Application::Instance() {
  return g_application;
}

int Application::Run(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  // Windows are placed at absolute screen positions, which only X11 allows (XWayland on Wayland).
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    g_printerr("cannot open an X11 display\n");
    return 1;
  }
  BindUiThread();
  InitInstance();
  return 0;
}

Text Application::AppName() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  Text path = n > 0 ? FromUtf8(std::string_view(buf, static_cast<size_t>(n))) : Text();
  Text name = path.substr(path.rfind(u'/') + 1);
  size_t dot = name.rfind(u'.');
  return dot == Text::npos || dot == 0 ? name : name.substr(0, dot);
}
