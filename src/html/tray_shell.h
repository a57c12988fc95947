// The process-wide tray record (created on first use) and what carries it to the desktop: the
// notification-area icon and its balloon as a desktop notification. Clicks on the icon reach the
// owner window as the tray callback message, menu choices as commands. UI thread only.
#pragma once

#include "services/tray_record.h"

inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_RBUTTONDOWN = 0x0204;

[[nodiscard]] TrayRecord& TheTrayRecord();
