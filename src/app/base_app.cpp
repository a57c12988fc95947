#include "app/base_app.h"

#include "app/base_frame.h"
#include "app/product.h"
#include "framework/win_api.h"

namespace {
constexpr char16_t kMainPage[] = u"res/index.html";
constexpr char16_t kContainerSelector[] = u".container";
}  // namespace

BOOL CBaseApp::InitInstance() {
  Application::InitInstance();
  InstanceLock lock = InstanceLock::Acquire(kProductDisplayName);
  if (lock.state() != InstanceLock::State::kAcquired) {
    // Another instance runs (or the lock could not be made): bring its window up if it has one
    // yet; otherwise start normally.
    if (HWND other = FindWindowW(kProductDisplayName)) {
      SetForegroundWindow(other);
      ShowWindow(other, SW_SHOWNORMAL);
      return FALSE;
    }
  }
  m_instanceLock.emplace(std::move(lock));

  CBaseFrame frame(kMainPage, kContainerSelector, nullptr);
  frame.DoModal();
  return FALSE;
}
