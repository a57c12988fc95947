#include "app/base_app.h"

#include <glib.h>
#include <unistd.h>
#include "app/base_frame.h"
#include "app/product.h"

#include <cstdio>

#include "framework/html_dialog.h"
#include "framework/session_end.h"
#include "framework/web_context.h"
#include "framework/win_api.h"
#include "framework/window.h"
#include "framework/window_registry.h"
#include "platform/config_directory.h"

namespace {
constexpr char16_t kMainPage[] = u"res/index.html";
constexpr char16_t kContainerSelector[] = u".container";
constexpr gint64 kEndSessionGraceUs = 2 * G_USEC_PER_SEC;

// Every window learns that the session ends; when a signal asked us to stop, the pages get a
// moment to run what they were sent, then the process ends.
void OnSessionEnd(bool terminate) {
  for (HWND hwnd : OwnWindowHandles())
    if (TopLevelWindow* window = FindOwnWindow(hwnd)) window->SendMessage(WM_ENDSESSION, TRUE, 0);
  if (!terminate) return;
  const gint64 deadline = g_get_monotonic_time() + kEndSessionGraceUs;
  while (HtmlDialog::PendingScripts() > 0 && g_get_monotonic_time() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
  }
  std::fflush(stdout);
  _exit(0);
}
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
  // The settings there hold the proxy token: the user's alone, also when left looser before.
  SecureMorvilConfigDirectory();
  WatchSessionEnd(OnSessionEnd);

  StartBrowserProcesses();
  CBaseFrame frame(kMainPage, kContainerSelector, nullptr);
  frame.DoModal();
  return FALSE;
}
