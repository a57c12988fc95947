// The tray record's fields as the shell's notification-icon call takes them, with the fixed
// field sizes of that record. Texts are cut to their fields when they are stored.
#pragma once

#include <cstddef>

#include "base/text.h"
#include "base/win_types.h"

inline constexpr UINT NIF_MESSAGE = 0x01;
inline constexpr UINT NIF_ICON = 0x02;
inline constexpr UINT NIF_TIP = 0x04;
inline constexpr UINT NIF_INFO = 0x10;
inline constexpr DWORD NIIF_INFO = 0x01;
inline constexpr DWORD NIM_ADD = 0;
inline constexpr DWORD NIM_MODIFY = 1;
inline constexpr DWORD NIM_DELETE = 2;

// Field sizes in UTF-16 units, the terminating zero included.
inline constexpr size_t kTipField = 128;
inline constexpr size_t kInfoField = 256;
inline constexpr size_t kInfoTitleField = 64;
inline constexpr DWORD kNotifyIconDataSize = 952;

struct NotifyIconData {
  DWORD cbSize = 0;
  HWND hWnd = 0;
  UINT uID = 0;
  UINT uFlags = 0;
  UINT uCallbackMessage = 0;
  Text hIcon;  // the icon's image file
  Text szTip;
  Text szInfo;
  UINT uTimeout = 0;  // balloon time in milliseconds
  Text szInfoTitle;
  DWORD dwInfoFlags = 0;
};

// `text` cut to what a field of `field_units` units holds before its terminating zero. A cut
// that would split a surrogate pair drops its first half as well, so no lone half is left.
[[nodiscard]] Text CutToField(TextView text, size_t field_units);
