#include "framework/window_registry.h"

#include <map>

#include "base/compare.h"
#include "framework/window.h"

namespace {

std::map<HWND, TopLevelWindow*>& Windows() {
  static std::map<HWND, TopLevelWindow*> windows;
  return windows;
}

}  // namespace

void RegisterWindow(HWND hwnd, TopLevelWindow* window) {
  Windows()[hwnd] = window;
}

void UnregisterWindow(HWND hwnd) {
  Windows().erase(hwnd);
}

TopLevelWindow* FindOwnWindow(HWND hwnd) {
  auto it = Windows().find(hwnd);
  return it == Windows().end() ? nullptr : it->second;
}

std::vector<HWND> OwnWindowHandles() {
  std::vector<HWND> handles;
  for (auto& [hwnd, window] : Windows()) handles.push_back(hwnd);
  return handles;
}

TopLevelWindow* FindOwnWindowByTitle(const char16_t* title, size_t length) {
  TextView wanted(title, length);
  for (auto& [hwnd, window] : Windows())
    if (CompareNoCase(window->GetWindowText(), wanted) == 0) return window;
  return nullptr;
}
