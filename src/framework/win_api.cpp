#include "framework/win_api.h"

#include <gtk/gtk.h>

#include <condition_variable>
#include <mutex>

#include "framework/ui_thread.h"
#include "framework/window.h"
#include "framework/window_registry.h"
#include "framework/x11_windows.h"

BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (hwnd == 0) return FALSE;
  if (IsUiThread() && !FindOwnWindow(hwnd))
    return x11::SendWindowMessage(hwnd, message, wparam, lparam) ? TRUE : FALSE;
  PostToUi([=] {
    if (TopLevelWindow* window = FindOwnWindow(hwnd))
      window->SendMessage(message, wparam, lparam);
    else
      x11::SendWindowMessage(hwnd, message, wparam, lparam);
  });
  return TRUE;
}

LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  RunOnUiAndWait([&] {
    if (TopLevelWindow* window = FindOwnWindow(hwnd))
      result = window->SendMessage(message, wparam, lparam);
  });
  return result;
}

HWND FindWindowW(TextView title) {
  if (TopLevelWindow* own = FindOwnWindowByTitle(title.data(), title.size()))
    return own->GetSafeHwnd();
  return x11::FindTopLevelByTitle(title);
}

BOOL SetForegroundWindow(HWND hwnd) {
  if (TopLevelWindow* window = FindOwnWindow(hwnd)) {
    window->SendMessage(kMsgRemoteActivate);
    return TRUE;
  }
  if (!x11::WindowExists(hwnd)) return FALSE;
  x11::RequestActivation(hwnd);
  x11::SendWindowMessage(hwnd, kMsgRemoteActivate, 0, 0);
  return TRUE;
}

BOOL ShowWindow(HWND hwnd, int command) {
  if (TopLevelWindow* window = FindOwnWindow(hwnd)) {
    window->ShowWindow(command);
    return TRUE;
  }
  return x11::SendWindowMessage(hwnd, kMsgRemoteShowWindow, static_cast<WPARAM>(command), 0)
             ? TRUE
             : FALSE;
}

namespace {

// The primary monitor, or the first where none is marked primary.
GdkMonitor* PrimaryMonitor() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return nullptr;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  return monitor ? monitor : gdk_display_get_monitor(display, 0);
}

RECT ToRect(const GdkRectangle& r) {
  return RECT{r.x, r.y, r.x + r.width, r.y + r.height};
}

}  // namespace

RECT GetDesktopRect() {
  GdkMonitor* monitor = PrimaryMonitor();
  if (!monitor) return RECT{};
  GdkRectangle area{};
  gdk_monitor_get_geometry(monitor, &area);
  return ToRect(area);
}

RECT GetWorkArea() {
  GdkMonitor* monitor = PrimaryMonitor();
  if (!monitor) return RECT{};
  GdkRectangle area{};
  gdk_monitor_get_workarea(monitor, &area);
  return ToRect(area);
}
