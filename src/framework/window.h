// A top-level window of this process: a GtkWindow with a handle (its X11 window id), a chained
// message map, timers, show states, geometry that moves and raises, a clip region, layered alpha
// and the styles that decide the taskbar button. The stand-in for the platform's window class.
// Not thread-safe: every member runs on the user-interface thread.
#pragma once

#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "base/text.h"
#include "base/win_types.h"
#include "framework/message_map.h"
#include "framework/modal_loop.h"
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

  // While the first showing is withheld (see WithholdShowing), a show command is only remembered:
  // the window counts as visible, but nothing of it reaches the screen.
  void ShowWindow(int command);
  [[nodiscard]] bool IsWindowVisible() const;
  // Keeps the window off the screen until its layered alpha is first set above 0, then shows it
  // as the last show command asked. A transparent window is only invisible where a compositor
  // runs; withheld, it is invisible everywhere.
  void WithholdShowing();
  void EnableWindow(bool enable);

  // Moves and/or sizes the window, then raises and activates it as the platform's SetWindowPos
  // without SWP_NOZORDER/SWP_NOACTIVATE does.
  void MoveWindowTo(int x, int y);
  // Moves the window and nothing else: its stacking place and the keyboard focus stay where they
  // are (the platform's MoveWindow).
  void MoveWindow(int x, int y);
  void ResizeWindow(int width, int height);
  [[nodiscard]] RECT GetWindowRect() const;
  // Puts the window in the group above all others (the platform's HWND_TOPMOST), without
  // moving or sizing it.
  void SetTopMost();

  // Clips the window (drawing and input) to `region`; an empty region hides everything.
  void SetWindowRgn(const WindowRegion& region);

  // The window's alpha; the first value above 0 ends a withheld showing.
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

  // Moves the window with the mouse while its left button is held, as dragging a caption does,
  // and returns when the button is released (at once when it is already up: a click moves
  // nothing). Runs a nested loop meanwhile.
  void DragWithPointer();

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
  [[nodiscard]] bool IsMapped() const;
  void OnGtkDestroyed();

  GtkWidget* widget_ = nullptr;  // strong reference, released in OnGtkDestroyed
  HWND hwnd_ = 0;
  HWND parent_ = 0;
  DWORD style_ = 0;
  DWORD ex_style_ = 0;
  RECT rect_{};
  std::optional<std::pair<int, int>> requested_origin_;  // a move not yet seen done
  std::map<UINT_PTR, unsigned> timers_;                  // id -> GLib source id
  bool showing_withheld_ = false;
  std::optional<int> withheld_show_;  // the show command to run when released; none: hidden
  // Where the left button last went down in the window (screen coordinates).
  std::optional<double> press_x_, press_y_;
  // The drag in progress: its loop, the pointer and window origins when it started.
  ModalLoop* drag_loop_ = nullptr;
  double drag_pointer_x_ = 0, drag_pointer_y_ = 0;
  int drag_window_x_ = 0, drag_window_y_ = 0;
};
