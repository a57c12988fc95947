#include "framework/window.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <utility>

#include "framework/ui_thread.h"
#include "framework/win_api.h"
#include "framework/window_registry.h"
#include "framework/x11_windows.h"

const MessageMap TopLevelWindow::kMessageMap{nullptr, {}};

// GTK signal handlers; each carries the window's handle and looks the window up, so a signal that
// arrives while the object is being torn down finds nothing.
struct WindowSignals {
  static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    if (TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data))) w->SendMessage(WM_CLOSE);
    return TRUE;  // closing is the window's decision, never GTK's
  }
  static void OnDestroy(GtkWidget*, gpointer data) {
    if (TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data))) w->OnGtkDestroyed();
  }
  static gboolean OnConfigure(GtkWidget* widget, GdkEventConfigure* event, gpointer data) {
    // An unmapped window's place on the screen is where it will go once shown, which only the
    // window's own record knows.
    if (!gtk_widget_get_mapped(widget)) return FALSE;
    TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data));
    if (!w) return FALSE;
    int x = w->rect_.left, y = w->rect_.top;
    // Every move of ours is recorded as it is asked for. Otherwise a window manager moves the
    // window and says so with a synthetic event in screen coordinates; its real events also come
    // while it puts a new window in its frame, from places on the way. Without a manager, real
    // events are in screen coordinates and only others' moves (a tool's) make them differ.
    if (event->send_event || !x11::WindowManagerRuns()) {
      const bool before_our_move =
          event->send_event && w->requested_origin_ &&
          (event->x != w->requested_origin_->first || event->y != w->requested_origin_->second);
      if (before_our_move) return FALSE;
      w->requested_origin_.reset();
      x = event->x;
      y = event->y;
    }
    const bool moved = x != w->rect_.left || y != w->rect_.top;
    w->rect_ = RECT{x, y, x + event->width, y + event->height};
    if (moved) w->SendMessage(WM_MOVE, 0, MAKELPARAM(x, y));
    return FALSE;
  }
  // While a drag runs, the pointer's moves move the window and the left button's release ends
  // it. The events go on to the page as well.
  static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
    TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data));
    if (!w || !w->drag_loop_) return FALSE;
    if (!(event->state & GDK_BUTTON1_MASK)) {  // released where we did not see it
      w->drag_loop_->end(0);
      return FALSE;
    }
    w->MoveWindow(w->drag_window_x_ + static_cast<int>(event->x_root - w->drag_pointer_x_),
                  w->drag_window_y_ + static_cast<int>(event->y_root - w->drag_pointer_y_));
    return FALSE;
  }
  static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
    TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data));
    if (w && event->button == GDK_BUTTON_PRIMARY) {
      w->press_x_ = event->x_root;
      w->press_y_ = event->y_root;
    }
    return FALSE;
  }
  static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
    TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data));
    if (w && w->drag_loop_ && event->button == GDK_BUTTON_PRIMARY) w->drag_loop_->end(0);
    return FALSE;
  }
};

namespace {

struct TimerData {
  HWND hwnd;
  UINT_PTR id;
  TopLevelWindow::TimerProc proc;
};

gboolean OnTimer(gpointer data) {
  auto* timer = static_cast<TimerData*>(data);
  TopLevelWindow* w = FindOwnWindow(timer->hwnd);
  if (!w) return G_SOURCE_CONTINUE;
  if (timer->proc)
    timer->proc(timer->hwnd, WM_TIMER, timer->id,
                static_cast<DWORD>(g_get_monotonic_time() / 1000));
  else
    w->SendMessage(WM_TIMER, timer->id, 0);
  return G_SOURCE_CONTINUE;
}

}  // namespace

TopLevelWindow::TopLevelWindow() = default;

TopLevelWindow::~TopLevelWindow() {
  if (widget_) DestroyWindow();
}

bool TopLevelWindow::CreateTopLevel(TopLevelWindow* parent) {
  GtkWidget* widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  widget_ = GTK_WIDGET(g_object_ref_sink(widget));
  parent_ = parent ? parent->GetSafeHwnd() : 0;
  if (parent && parent->gtk_window())
    gtk_window_set_transient_for(gtk_window(), parent->gtk_window());
  // A window has no caption text until one is set (GTK would show the program's name).
  gtk_window_set_title(gtk_window(), "");
  gtk_window_set_decorated(gtk_window(), (style_ & WS_CAPTION) == WS_CAPTION);
  gtk_widget_realize(widget_);
  hwnd_ = x11::XidOf(widget_);
  RegisterWindow(hwnd_, this);
  gpointer handle = GUINT_TO_POINTER(hwnd_);
  g_signal_connect(widget_, "delete-event", G_CALLBACK(WindowSignals::OnDelete), handle);
  g_signal_connect(widget_, "destroy", G_CALLBACK(WindowSignals::OnDestroy), handle);
  g_signal_connect(widget_, "configure-event", G_CALLBACK(WindowSignals::OnConfigure), handle);
  x11::ListenForWindowMessages(hwnd_, [](HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (TopLevelWindow* window = FindOwnWindow(hwnd)) window->SendMessage(message, w, l);
  });
  int width = 0, height = 0;
  gtk_window_get_size(gtk_window(), &width, &height);
  rect_ = RECT{0, 0, width, height};
  if (SendMessage(WM_CREATE) == -1) {
    DestroyWindow();
    return false;
  }
  return true;
}

void TopLevelWindow::SetContent(GtkWidget* child) {
  gtk_container_add(GTK_CONTAINER(widget_), child);
  g_signal_connect(child, "button-press-event", G_CALLBACK(WindowSignals::OnButtonPress),
                   GUINT_TO_POINTER(hwnd_));
  g_signal_connect(child, "motion-notify-event", G_CALLBACK(WindowSignals::OnMotion),
                   GUINT_TO_POINTER(hwnd_));
  g_signal_connect(child, "button-release-event", G_CALLBACK(WindowSignals::OnButtonRelease),
                   GUINT_TO_POINTER(hwnd_));
  gtk_widget_show(child);
}

void TopLevelWindow::DestroyWindow() {
  if (!widget_) return;
  gtk_widget_destroy(widget_);  // runs OnGtkDestroyed through the "destroy" signal
}

void TopLevelWindow::OnGtkDestroyed() {
  if (drag_loop_) drag_loop_->end(0);
  SendMessage(WM_DESTROY);
  for (auto& [id, source] : timers_) g_source_remove(source);
  timers_.clear();
  UnregisterWindow(hwnd_);
  GtkWidget* widget = std::exchange(widget_, nullptr);
  g_object_unref(widget);
  PostNcDestroy();
}

TopLevelWindow* TopLevelWindow::GetParent() const {
  return FindOwnWindow(parent_);
}

GtkWindow* TopLevelWindow::gtk_window() const {
  return widget_ ? GTK_WINDOW(widget_) : nullptr;
}

LRESULT TopLevelWindow::SendMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  return WindowProc(message, wparam, lparam);
}

LRESULT TopLevelWindow::WindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  for (const MessageMap* map = GetMessageMap(); map; map = map->base)
    for (const MessageMapEntry& entry : map->entries)
      if (entry.message == message) return entry.handler(*this, wparam, lparam);
  return DefWindowProc(message, wparam, lparam);
}

LRESULT TopLevelWindow::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kMsgRemoteShowWindow:
      ShowWindow(static_cast<int>(wparam));
      return 0;
    case kMsgRemoteActivate:
      if (IsMapped()) gtk_window_present(gtk_window());
      return 0;
    case WM_NCLBUTTONDOWN:
      if (wparam == HTCAPTION) DragWithPointer();
      return 0;
    case WM_CLOSE:
      DestroyWindow();
      return 0;
    default:
      return 0;
  }
}

void TopLevelWindow::ShowWindow(int command) {
  if (!widget_) return;
  if (showing_withheld_) {
    withheld_show_ = command == SW_HIDE ? std::nullopt : std::optional<int>(command);
    return;
  }
  GtkWindow* window = gtk_window();
  switch (command) {
    case SW_HIDE:
      gtk_widget_hide(widget_);
      break;
    case SW_MINIMIZE:
      gtk_widget_show(widget_);
      gtk_window_iconify(window);
      break;
    case SW_MAXIMIZE:
      gtk_window_deiconify(window);
      gtk_window_maximize(window);
      gtk_window_present(window);
      break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
      gtk_window_deiconify(window);
      gtk_window_unmaximize(window);
      gtk_window_present(window);
      break;
    default:  // SW_SHOW and the other showing commands
      gtk_window_present(window);
      break;
  }
}

bool TopLevelWindow::IsWindowVisible() const {
  if (showing_withheld_) return widget_ && withheld_show_.has_value();
  return IsMapped();
}

bool TopLevelWindow::IsMapped() const {
  return widget_ && gtk_widget_get_visible(widget_);
}

void TopLevelWindow::WithholdShowing() {
  if (showing_withheld_ || !widget_) return;
  showing_withheld_ = true;
  withheld_show_ = IsMapped() ? std::optional<int>(SW_SHOW) : std::nullopt;
  if (IsMapped()) gtk_widget_hide(widget_);
}

void TopLevelWindow::EnableWindow(bool enable) {
  if (widget_) gtk_widget_set_sensitive(widget_, enable);
}

void TopLevelWindow::RaiseAndActivate() {
  if (!IsMapped()) return;
  GdkWindow* gdk = gtk_widget_get_window(widget_);
  if (gdk && (gdk_window_get_state(gdk) & GDK_WINDOW_STATE_ICONIFIED)) return;
  gtk_window_present(gtk_window());
}

void TopLevelWindow::MoveWindowTo(int x, int y) {
  MoveWindow(x, y);
  RaiseAndActivate();
}

void TopLevelWindow::MoveWindow(int x, int y) {
  if (!widget_) return;
  gtk_window_move(gtk_window(), x, y);
  requested_origin_.emplace(x, y);
  int width = rect_.right - rect_.left, height = rect_.bottom - rect_.top;
  const bool moved = x != rect_.left || y != rect_.top;
  rect_ = RECT{x, y, x + width, y + height};
  // The window hears of its new place at once, as the platform's move tells it synchronously.
  if (moved) SendMessage(WM_MOVE, 0, MAKELPARAM(x, y));
}

void TopLevelWindow::ResizeWindow(int width, int height) {
  if (!widget_) return;
  // X windows cannot be empty; the clip region hides what a zero size should not show.
  gtk_window_resize(gtk_window(), std::max(width, 1), std::max(height, 1));
  rect_.right = rect_.left + width;
  rect_.bottom = rect_.top + height;
  RaiseAndActivate();
}

void TopLevelWindow::SetTopMost() {
  if (!widget_) return;
  gtk_window_set_keep_above(gtk_window(), TRUE);
  if (GdkWindow* gdk = gtk_widget_get_window(widget_)) gdk_window_raise(gdk);
}

RECT TopLevelWindow::GetWindowRect() const {
  return rect_;
}

void TopLevelWindow::SetWindowRgn(const WindowRegion& region) {
  if (!widget_) return;
  // The region is in logical pixels, the X shape in device pixels. Rows with the same extent
  // merge into one rectangle.
  const int scale = gtk_widget_get_scale_factor(widget_);
  std::vector<int> rects;
  const auto& spans = region.spans();
  for (size_t i = 0; i < spans.size();) {
    size_t j = i + 1;
    while (j < spans.size() && spans[j].y == spans[j - 1].y + 1 && spans[j].left == spans[i].left &&
           spans[j].right == spans[i].right)
      ++j;
    rects.insert(rects.end(),
                 {spans[i].left * scale, spans[i].y * scale,
                  (spans[i].right - spans[i].left) * scale, static_cast<int>(j - i) * scale});
    i = j;
  }
  x11::SetBoundingShape(hwnd_, rects);
}

void TopLevelWindow::SetLayeredWindowAttributes(BYTE alpha) {
  if (!widget_) return;
  gtk_widget_set_opacity(widget_, alpha / 255.0);
  if (showing_withheld_ && alpha > 0) {
    showing_withheld_ = false;
    if (std::optional<int> command = std::exchange(withheld_show_, std::nullopt))
      ShowWindow(*command);
  }
}

void TopLevelWindow::SetIconFromFile(const Text& path) {
  if (widget_) gtk_window_set_icon_from_file(gtk_window(), ToUtf8(path).c_str(), nullptr);
}

void TopLevelWindow::SetWindowText(const Text& text) {
  if (widget_) gtk_window_set_title(gtk_window(), ToUtf8(text).c_str());
}

Text TopLevelWindow::GetWindowText() const {
  const char* title = widget_ ? gtk_window_get_title(gtk_window()) : nullptr;
  return title ? FromUtf8(title) : Text();
}

void TopLevelWindow::ModifyStyle(DWORD remove, DWORD add) {
  style_ = (style_ & ~remove) | add;
  if (widget_) gtk_window_set_decorated(gtk_window(), (style_ & WS_CAPTION) == WS_CAPTION);
}

void TopLevelWindow::ModifyStyleEx(DWORD remove, DWORD add) {
  ex_style_ = (ex_style_ & ~remove) | add;
  if (!widget_) return;
  // A tool window has no taskbar button; an application window always has one.
  bool tool = (ex_style_ & WS_EX_TOOLWINDOW) && !(ex_style_ & WS_EX_APPWINDOW);
  gtk_window_set_skip_taskbar_hint(gtk_window(), tool);
  gtk_window_set_skip_pager_hint(gtk_window(), tool);
}

void TopLevelWindow::SetTimer(UINT_PTR id, UINT period_ms) {
  SetTimer(id, period_ms, nullptr);
}

void TopLevelWindow::SetTimer(UINT_PTR id, UINT period_ms, TimerProc proc) {
  KillTimer(id);
  timers_[id] =
      g_timeout_add_full(G_PRIORITY_DEFAULT, period_ms, OnTimer, new TimerData{hwnd_, id, proc},
                         [](gpointer p) { delete static_cast<TimerData*>(p); });
}

void TopLevelWindow::KillTimer(UINT_PTR id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  g_source_remove(it->second);
  timers_.erase(it);
}

void TopLevelWindow::DragWithPointer() {
  if (!widget_ || drag_loop_) return;
  GdkDisplay* display = gtk_widget_get_display(widget_);
  GdkDevice* pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  GdkModifierType buttons{};
  double x = 0, y = 0;
  // Asks the X server: the press that led here may have been released long since.
  gdk_window_get_device_position_double(gdk_screen_get_root_window(gtk_widget_get_screen(widget_)),
                                        pointer, &x, &y, &buttons);
  if (!(buttons & GDK_BUTTON1_MASK)) return;
  // The drag is anchored where the button went down; the page asks for it a moment later, and
  // the window catches up with the pointer's moves made meanwhile.
  drag_pointer_x_ = press_x_.value_or(x);
  drag_pointer_y_ = press_y_.value_or(y);
  drag_window_x_ = rect_.left;
  drag_window_y_ = rect_.top;
  MoveWindow(drag_window_x_ + static_cast<int>(x - drag_pointer_x_),
             drag_window_y_ + static_cast<int>(y - drag_pointer_y_));
  const HWND self = hwnd_;
  ModalLoop loop;
  drag_loop_ = &loop;
  loop.run();
  if (TopLevelWindow* still = FindOwnWindow(self)) still->drag_loop_ = nullptr;
}
