// Top-level windows of other processes on the X display: search by title, window messages as
// client messages, activation through the window manager. UI thread only (Xlib is not
// thread-safe here).
#pragma once

#include <functional>
#include <vector>

#include "base/text.h"
#include "base/win_types.h"

typedef struct _GtkWidget GtkWidget;

namespace x11 {

// The first top-level client window whose _NET_WM_NAME (or WM_NAME) equals `title`, letter case
// ignored as the platform's window search ignores it; 0 if none.
[[nodiscard]] HWND FindTopLevelByTitle(TextView title);

// Delivers (message, wparam, lparam) to the morvil process that owns `hwnd`. False when the
// window does not exist.
bool SendWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// Asks the window manager to activate `hwnd` (_NET_ACTIVE_WINDOW).
void RequestActivation(HWND hwnd);

// Starts receiving window messages that other processes send to `hwnd`.
using MessageSink = std::function<void(HWND, UINT, WPARAM, LPARAM)>;
void ListenForWindowMessages(HWND hwnd, MessageSink sink);

[[nodiscard]] bool WindowExists(HWND hwnd);

// Whether a window manager runs on the display (it announces itself on the root window).
[[nodiscard]] bool WindowManagerRuns();

// Sets the window's bounding (and so input) shape to the union of the rectangles, given as
// x, y, width, height quadruples relative to the window, in device pixels.
void SetBoundingShape(HWND hwnd, const std::vector<int>& rects);

// The X11 window id of a realized GTK window.
[[nodiscard]] HWND XidOf(GtkWidget* widget);

}  // namespace x11
