#include "framework/dialog.h"

#include <gtk/gtk.h>

#include "framework/win_api.h"
#include "framework/window_registry.h"

intptr_t Dialog::DoModal() {
  TopLevelWindow* owner = parent_;
  if (!CreateTopLevel(owner)) return -1;
  HWND owner_hwnd = owner ? owner->GetSafeHwnd() : 0;
  // Only the owner is disabled. GTK's modal flag would grab input for the whole program, so
  // other windows (a modeless one, the body of a split window) would take no click or key.
  if (owner) owner->EnableWindow(false);

  ModalLoop loop;
  modal_loop_ = &loop;
  OnInitDialog();
  // The dialog appears at the loop's first idle moment, unless it ended before.
  HWND self = GetSafeHwnd();
  g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        if (TopLevelWindow* w = FindOwnWindow(GPOINTER_TO_UINT(data))) w->ShowWindow(SW_SHOWNORMAL);
        return G_SOURCE_REMOVE;
      },
      GUINT_TO_POINTER(self), nullptr);
  intptr_t result = loop.run();
  modal_loop_ = nullptr;

  // The owner may have been destroyed while the dialog ran.
  if (TopLevelWindow* still_owner = FindOwnWindow(owner_hwnd)) still_owner->EnableWindow(true);
  DestroyWindow();
  if (TopLevelWindow* still_owner = FindOwnWindow(owner_hwnd))
    still_owner->SendMessage(kMsgRemoteActivate);
  return result;
}

bool Dialog::CreateModeless(TopLevelWindow* owner) {
  if (!CreateTopLevel(owner)) return false;
  OnInitDialog();
  return true;
}

void Dialog::EndDialog(intptr_t result) {
  if (modal_loop_) modal_loop_->end(result);
}

BOOL Dialog::OnCommand(WPARAM wparam, LPARAM) {
  if (wparam == IDOK || wparam == IDCANCEL) {
    if (IsModal())
      EndDialog(static_cast<intptr_t>(wparam));
    else
      DestroyWindow();
    return TRUE;
  }
  return FALSE;
}

LRESULT Dialog::DefWindowProc(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:  // the window manager's close request is the cancel command
      return SendMessage(WM_COMMAND, IDCANCEL, 0);
    case WM_COMMAND:
      return OnCommand(wparam, lparam);
    default:
      return TopLevelWindow::DefWindowProc(message, wparam, lparam);
  }
}
