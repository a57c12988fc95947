// A top-level window of this process: a GtkWindow with a handle (its X11 window id), a chained
// message map, timers, show states, geometry that moves and raises, a clip region, layered alpha
// and the styles that decide the taskbar button. The stand-in for the platform's window class.
// Not thread-safe: every member runs on the user-interface thread.
#pragma once

#include <map>
#include <vector>

#include "base/text.h"
#include "base/win_types.h"
#include "framework/message_map.h"
#include "framework/region.h"

typedef struct _GtkWidget GtkWidget;
typedef struct _GtkWindow GtkWindow;

class TopLevelWindow {
 public:
  TopLevelWindow();
  virtual ~TopLevelWindow();
  TopLevelWindow(const TopLevelWindow&) = delete;
  TopLevelWindow& operator=(const TopLevelWindow&) = delete;

  static const MessageMap kMessageMap;
  virtual const MessageMap* GetMessageMap() const { return &kMessageMap; }

  // Creates the GtkWindow, gives it a handle and dispatches WM_CREATE; a handler result of -1
  // destroys the window again and fails the creation.
  bool CreateTopLevel(TopLevelWindow* parent);
  void DestroyWindow();

  [[nodiscard]] HWND GetSafeHwnd() const { return hwnd_; }
  [[nodiscard]] TopLevelWindow* GetParent() const;
  [[nodiscard]] GtkWindow* gtk_window() const;

  // Dispatches a message through the message maps (UI thread).
  LRESULT SendMessage(UINT message, WPARAM wparam = 0, LPARAM lparam = 0);

  void ShowWindow(int command);
  [[nodiscard]] bool IsWindowVisible() const;
  void EnableWindow(bool enable);

  // Moves and/or sizes the window, then raises and activates it as the platform's SetWindowPos
  // without SWP_NOZORDER/SWP_NOACTIVATE does.
  void MoveWindowTo(int x, int y);
  void ResizeWindow(int width, int height);
  [[nodiscard]] RECT GetWindowRect() const;
  // Puts the window in the group above all others (the platform's HWND_TOPMOST), without
  // moving or sizing it.
  void SetTopMost();

  // Clips the window (drawing and input) to `region`; an empty region hides everything.
  void SetWindowRgn(const WindowRegion& region);

  void SetLayeredWindowAttributes(BYTE alpha);

  // The window's icon, from an image file; a file that cannot be read leaves it unchanged.
  void SetIconFromFile(const Text& path);

  void SetWindowText(const Text& text);
  [[nodiscard]] Text GetWindowText() const;

  // A window without WS_CAPTION has no frame, caption or border from the window manager.
  void ModifyStyle(DWORD remove, DWORD add);
  void ModifyStyleEx(DWORD remove, DWORD add);

  // Timer `id` delivers WM_TIMER(id) every `period_ms`; setting an existing id restarts it.
  void SetTimer(UINT_PTR id, UINT period_ms);
  // The same timer calling `proc(window, WM_TIMER, id, milliseconds since start-up)` instead of
  // delivering WM_TIMER through the message maps.
  using TimerProc = void (*)(HWND, UINT, UINT_PTR, DWORD);
  void SetTimer(UINT_PTR id, UINT period_ms, TimerProc proc);
  void KillTimer(UINT_PTR id);

  // Starts a move of the window by the mouse from the last button press in it.
  void BeginMoveDrag();

 protected:
  // The handling of messages that no table holds.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  // The GTK child that fills the window; created by derived classes at creation time.
  void SetContent(GtkWidget* child);
  // Called once the window is gone; a heap-owned modeless window deletes itself here.
  virtual void PostNcDestroy() {}

 private:
  friend struct WindowSignals;
  LRESULT WindowProc(UINT message, WPARAM wparam, LPARAM lparam);
  void RaiseAndActivate();
  void OnGtkDestroyed();

  GtkWidget* widget_ = nullptr;  // strong reference, released in OnGtkDestroyed
  HWND hwnd_ = 0;
  HWND parent_ = 0;
  DWORD style_ = 0;
  DWORD ex_style_ = 0;
  RECT rect_{};
  std::map<UINT_PTR, unsigned> timers_;  // id -> GLib source id
  double last_press_x_ = 0, last_press_y_ = 0;
  unsigned last_press_button_ = 0;
  uint32_t last_press_time_ = 0;
};
