#include "app/base_frame.h"

#include "base/command_line.h"

namespace {
constexpr UINT_PTR kStartModeTimer = 1;
}

const MessageMapEntry CBaseFrame::kMessageEntries[] = {
    ON_MESSAGE(CBaseFrame, WM_TIMER, OnTimer),
};
const MessageMap CBaseFrame::kMessageMap{&CBaseDHtmlDlg::kMessageMap, kMessageEntries};

CBaseFrame::CBaseFrame(const Text& url, const Text& selector, TopLevelWindow* parent)
    : CBaseDHtmlDlg(url, selector, parent) {}

bool CBaseFrame::IsTrayStartMode() {
  std::vector<Text> args = GetCommandLineArgs();
  return args.size() >= 2 && args[1] == u"tray";
}

BOOL CBaseFrame::OnInitDialog() {
  CBaseDHtmlDlg::OnInitDialog();
  // Hidden start: no taskbar button while the (transparent) window loads its page.
  if (IsTrayStartMode()) ModifyStyleEx(WS_EX_APPWINDOW, WS_EX_TOOLWINDOW);
  return TRUE;
}

LRESULT CBaseFrame::OnTimer(WPARAM id, LPARAM lparam) {
  if (id == kStartModeTimer) {
    if (IsTrayStartMode()) ShowWindow(SW_HIDE);
    SetLayeredWindowAttributes(255);
    // From now on the window has a taskbar button whenever it is shown.
    ModifyStyleEx(WS_EX_TOOLWINDOW, WS_EX_APPWINDOW);
    KillTimer(kStartModeTimer);
  }
  return DefWindowProc(WM_TIMER, id, lparam);
}

int32_t CBaseFrame::DoNewInstance(bool modal, const Text& url, const Text& selector) {
  if (modal) {
    CBaseFrame frame(url, selector, this);
    return static_cast<int32_t>(frame.DoModal());
  }
  ShowModeless(new CBaseFrame(url, selector, this), this);
  return 0;
}
