// The windows of this process by handle. UI thread only. Callbacks that outlive a window carry
// its handle, never its address, and look it up here when they run.
#pragma once

#include <cstddef>
#include <vector>

#include "base/win_types.h"

class TopLevelWindow;

void RegisterWindow(HWND hwnd, TopLevelWindow* window);
void UnregisterWindow(HWND hwnd);
[[nodiscard]] TopLevelWindow* FindOwnWindow(HWND hwnd);
// The handles of all this process's windows, in handle order.
[[nodiscard]] std::vector<HWND> OwnWindowHandles();
// The first of this process's windows whose caption equals `title` exactly, or nullptr.
[[nodiscard]] TopLevelWindow* FindOwnWindowByTitle(const char16_t* title, size_t length);
