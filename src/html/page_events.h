// Page events: two signed integers carried by message 1125 to a page dialog, delivered to its
// page as "UI.onUserMessage(%d, %d);".
#pragma once

#include "base/text.h"
#include "base/win_types.h"

inline constexpr UINT WM_TRAY_CALLBACK = WM_USER + 100;  // 1124
inline constexpr UINT WM_PAGE_MESSAGE = WM_USER + 101;   // 1125
inline constexpr int32_t kEndSessionEvent = 1000;

[[nodiscard]] Text PageEventScript(int32_t code, int32_t value);
