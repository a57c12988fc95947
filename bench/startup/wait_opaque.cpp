// Waits until a top-level window with the given title is mapped and opaque (no
// _NET_WM_WINDOW_OPACITY below the maximum), polling the X server every millisecond. Exits 0
// then, 1 after the time-out (seconds, default 30).
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

static bool Opaque(Display* dpy, Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  Atom opacity = XInternAtom(dpy, "_NET_WM_WINDOW_OPACITY", False);
  if (XGetWindowProperty(dpy, w, opacity, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                         &data) != Success ||
      !data)
    return true;
  bool opaque = *reinterpret_cast<unsigned long*>(data) == 0xFFFFFFFFul;
  XFree(data);
  return opaque;
}

static bool Found(Display* dpy, const std::string& title) {
  Window root_return, parent_return, *children = nullptr;
  unsigned int n = 0;
  if (!XQueryTree(dpy, DefaultRootWindow(dpy), &root_return, &parent_return, &children, &n))
    return false;
  bool found = false;
  for (unsigned int i = 0; i < n && !found; ++i) {
    char* name = nullptr;
    if (XFetchName(dpy, children[i], &name) && name) {
      if (title == name) {
        XWindowAttributes attrs;
        found = XGetWindowAttributes(dpy, children[i], &attrs) && attrs.map_state == IsViewable &&
                Opaque(dpy, children[i]);
      }
      XFree(name);
    }
  }
  if (children) XFree(children);
  return found;
}

// Windows come and go while we look; their errors are expected.
static int IgnoreErrors(Display*, XErrorEvent*) {
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  XSetErrorHandler(IgnoreErrors);
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) return 2;
  double limit = argc > 2 ? std::atof(argv[2]) : 30.0;
  auto start = std::chrono::steady_clock::now();
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < limit) {
    if (Found(dpy, argv[1])) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 1;
}
