// Modal message boxes, as the platform's message box: a dialog run in a nested loop on the UI
// thread, owned by `owner` (0 for none). From a worker thread the request is carried to the UI
// thread and the worker waits for the answer. Returns the button chosen (IDOK).
//
// Tests: when MORVIL_MESSAGE_BOX_LOG names a file, each box is appended to it as one line
// "caption<TAB>text" and answered IDOK at once instead of being shown.
#pragma once

#include "base/text.h"
#include "base/win_types.h"

inline constexpr UINT MB_OK = 0x00000000;

int MessageBoxW(HWND owner, const Text& text, const Text& caption, UINT type = MB_OK);
