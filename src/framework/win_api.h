// TopLevelWindow calls by handle, for this process's windows and for other morvil processes'
// windows. A message to an own window goes through its message map; to another process's window it
// travels as an X client message. Calls marked "any thread" marshal to the UI thread.
#pragma once

#include "base/text.h"
#include "base/win_types.h"

// Framework-private messages carrying window operations between processes.
inline constexpr UINT kMsgRemoteShowWindow = 0xBF01;  // wparam: show command
inline constexpr UINT kMsgRemoteActivate = 0xBF02;

// Any thread. Queues the message; FALSE when no such window exists.
BOOL PostMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
// Any thread. Runs the handler and returns its result; 0 for another process's window or none.
LRESULT SendMessageW(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

// UI thread. Own windows first, then every top-level window on the display; titles compare with
// letter case ignored. 0 when none.
[[nodiscard]] HWND FindWindowW(TextView title);
BOOL SetForegroundWindow(HWND hwnd);
BOOL ShowWindow(HWND hwnd, int command);
// UI thread. The desktop window's rectangle: the primary monitor, as the platform's desktop
// window covers the primary monitor only. Like every geometry of ours, in GDK's logical pixels
// (device pixels divided by the scale factor).
[[nodiscard]] RECT GetDesktopRect();
// UI thread. The primary monitor's work area (the desktop less panels and docks).
[[nodiscard]] RECT GetWorkArea();
