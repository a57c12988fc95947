#include "framework/x11_windows.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstring>
#include <string>

#include "base/compare.h"

namespace x11 {
namespace {

Display* Dpy() {
  GdkDisplay* display = gdk_display_get_default();
  return display && GDK_IS_X11_DISPLAY(display) ? GDK_DISPLAY_XDISPLAY(display) : nullptr;
}

Atom Intern(const char* name) {
  return XInternAtom(Dpy(), name, False);
}

// A window message between processes: one client message of this type, format 32, carrying the
// message number, wparam and lparam.
constexpr const char kMessageAtom[] = "_MORVIL_WINDOW_MESSAGE";

std::string WindowName(Window window) {
  Display* dpy = Dpy();
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string name;
  if (XGetWindowProperty(dpy, window, Intern("_NET_WM_NAME"), 0, 4096, False, Intern("UTF8_STRING"),
                         &type, &format, &count, &after, &data) == Success &&
      data && type != None) {
    name.assign(reinterpret_cast<char*>(data), count);
    XFree(data);
    return name;
  }
  if (data) XFree(data);
  char* legacy = nullptr;
  if (XFetchName(dpy, window, &legacy) && legacy) {
    name = legacy;
    XFree(legacy);
  }
  return name;
}

// An embedded client (a tray icon's plug, which carries the tool-tip text as its name) is part
// of another window, not a top-level window of its own.
bool IsEmbedded(Window window) {
  Display* dpy = Dpy();
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  bool embedded =
      XGetWindowProperty(dpy, window, Intern("_XEMBED_INFO"), 0, 0, False, AnyPropertyType, &type,
                         &format, &count, &after, &data) == Success &&
      type != None;
  if (data) XFree(data);
  return embedded;
}

bool HasName(Window window) {
  Display* dpy = Dpy();
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  bool has = XGetWindowProperty(dpy, window, Intern("WM_NAME"), 0, 0, False, AnyPropertyType, &type,
                                &format, &count, &after, &data) == Success &&
             type != None;
  if (data) XFree(data);
  return has;
}

// Client windows are the root's children, or their children under a reparenting manager.
HWND Search(Window parent, TextView title, int depth) {
  Display* dpy = Dpy();
  Window root_return, parent_return;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(dpy, parent, &root_return, &parent_return, &children, &count)) return 0;
  HWND found = 0;
  // Topmost first: XQueryTree lists children bottom to top.
  for (unsigned int i = count; i-- > 0 && !found;) {
    if (HasName(children[i])) {
      if (CompareNoCase(FromUtf8(WindowName(children[i])), title) == 0 && !IsEmbedded(children[i]))
        found = static_cast<HWND>(children[i]);
    } else if (depth > 0) {
      found = Search(children[i], title, depth - 1);
    }
  }
  if (children) XFree(children);
  return found;
}

}  // namespace

HWND FindTopLevelByTitle(TextView title) {
  Display* dpy = Dpy();
  if (!dpy) return 0;
  gdk_x11_display_error_trap_push(gdk_display_get_default());
  HWND found = Search(DefaultRootWindow(dpy), title, 2);
  gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default());
  return found;
}

bool WindowExists(HWND hwnd) {
  Display* dpy = Dpy();
  if (!dpy || hwnd == 0) return false;
  gdk_x11_display_error_trap_push(gdk_display_get_default());
  XWindowAttributes attrs;
  Status ok = XGetWindowAttributes(dpy, hwnd, &attrs);
  bool failed = gdk_x11_display_error_trap_pop(gdk_display_get_default()) != 0;
  return ok && !failed;
}

bool WindowManagerRuns() {
  GdkScreen* screen = gdk_screen_get_default();
  return screen && GDK_IS_X11_SCREEN(screen) &&
         g_strcmp0(gdk_x11_screen_get_window_manager_name(screen), "unknown") != 0;
}

bool SendWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  Display* dpy = Dpy();
  if (!WindowExists(hwnd)) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = hwnd;
  event.xclient.message_type = Intern(kMessageAtom);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(message);
  event.xclient.data.l[1] = static_cast<long>(wparam);
  event.xclient.data.l[2] = static_cast<long>(lparam);
  gdk_x11_display_error_trap_push(gdk_display_get_default());
  XSendEvent(dpy, hwnd, False, NoEventMask, &event);
  XFlush(dpy);
  return gdk_x11_display_error_trap_pop(gdk_display_get_default()) == 0;
}

void RequestActivation(HWND hwnd) {
  Display* dpy = Dpy();
  if (!WindowExists(hwnd)) return;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = hwnd;
  event.xclient.message_type = Intern("_NET_ACTIVE_WINDOW");
  event.xclient.format = 32;
  event.xclient.data.l[0] = 2;  // source: a pager, so managers honour it from another process
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(dpy, DefaultRootWindow(dpy), False, SubstructureRedirectMask | SubstructureNotifyMask,
             &event);
  XFlush(dpy);
}

namespace {

struct Listener {
  HWND hwnd;
  MessageSink sink;
};

GdkFilterReturn FilterClientMessage(GdkXEvent* xevent, GdkEvent*, gpointer data) {
  auto* listener = static_cast<Listener*>(data);
  auto* event = static_cast<XEvent*>(xevent);
  if (event->type != ClientMessage || event->xclient.message_type != Intern(kMessageAtom))
    return GDK_FILTER_CONTINUE;
  listener->sink(listener->hwnd, static_cast<UINT>(event->xclient.data.l[0]),
                 static_cast<WPARAM>(event->xclient.data.l[1]),
                 static_cast<LPARAM>(event->xclient.data.l[2]));
  return GDK_FILTER_REMOVE;
}

}  // namespace

void ListenForWindowMessages(HWND hwnd, MessageSink sink) {
  GdkDisplay* display = gdk_display_get_default();
  GdkWindow* window = gdk_x11_window_lookup_for_display(display, hwnd);
  if (!window) return;
  auto* listener = new Listener{hwnd, std::move(sink)};
  gdk_window_add_filter(window, FilterClientMessage, listener);
  // The listener lives as long as the GdkWindow.
  g_object_set_data_full(G_OBJECT(window), "morvil-message-listener", listener,
                         [](gpointer p) { delete static_cast<Listener*>(p); });
}

void SetBoundingShape(HWND hwnd, const std::vector<int>& rects) {
  Display* dpy = Dpy();
  if (!dpy) return;
  std::vector<XRectangle> xrects;
  for (size_t i = 0; i + 3 < rects.size(); i += 4)
    xrects.push_back(XRectangle{static_cast<short>(rects[i]), static_cast<short>(rects[i + 1]),
                                static_cast<unsigned short>(rects[i + 2]),
                                static_cast<unsigned short>(rects[i + 3])});
  gdk_x11_display_error_trap_push(gdk_display_get_default());
  XShapeCombineRectangles(dpy, hwnd, ShapeBounding, 0, 0, xrects.data(),
                          static_cast<int>(xrects.size()), ShapeSet, Unsorted);
  XFlush(dpy);
  gdk_x11_display_error_trap_pop_ignored(gdk_display_get_default());
}

HWND XidOf(GtkWidget* widget) {
  return static_cast<HWND>(GDK_WINDOW_XID(gtk_widget_get_window(widget)));
}

}  // namespace x11
