#include "app/base_frame.h"

#include "app/product.h"
#include "app/reg_key_string_reader.h"
#include "base/command_line.h"
#include "pipe/acc_request_server.h"
#include "report/report_methods.h"
#include "report/report_setup.h"

namespace {
constexpr UINT_PTR kStartModeTimer = 1;
}

const MessageMapEntry CBaseFrame::kMessageEntries[] = {
    ON_MESSAGE(CBaseFrame, WM_TIMER, OnTimer),
    ON_MESSAGE(CBaseFrame, WM_ERASEBKGND, OnEraseBackground),
    ON_MESSAGE(CBaseFrame, WM_PAINT, OnPaint),
};
const MessageMap CBaseFrame::kMessageMap{&CBaseDHtmlPgDlg::kMessageMap, kMessageEntries};

const DispatchEntry CBaseFrame::kDispatchEntries[] = {
    DISP_NOT_IMPLEMENTED(GetProxyType, ScriptType::kInt),
    DISP_NOT_IMPLEMENTED(DisableProxy, ScriptType::kNone),
    DISP_NOT_IMPLEMENTED(SetAutoConfigProxy, ScriptType::kNone),
    DISP_NOT_IMPLEMENTED(GetNetworkInfo, ScriptType::kBool),
    DISP_NOT_IMPLEMENTED(GetCurrDownloadTotal, ScriptType::kInt),
    DISP_NOT_IMPLEMENTED(GetCurrUploadTotal, ScriptType::kInt),
    DISP_NOT_IMPLEMENTED(PipeClientWrite, ScriptType::kBool),
    DISP_NOT_IMPLEMENTED(PipeClientRead, ScriptType::kString),
    DISP_NOT_IMPLEMENTED(PipeClientConnect, ScriptType::kBool),
    DISP_NOT_IMPLEMENTED(PipeClientDisconnect, ScriptType::kBool),
    DISP_NOT_IMPLEMENTED(InitService, ScriptType::kBool),
    DISP_NOT_IMPLEMENTED(Ping, ScriptType::kNone),
};
const DispatchTable CBaseFrame::kDispatchTable{&CBaseDHtmlPgDlg::kDispatchTable, kDispatchEntries,
                                               /*remote_callable=*/false};

CBaseFrame::CBaseFrame(const Text& url, const Text& selector, TopLevelWindow* parent)
    : CBaseDHtmlPgDlg(url, selector, parent) {
  static_assert(std::size(kDispatchEntries) == 12);
  RegKeyStringReader registry;
  RunMainWindowReportSetUp(MorvilReportInstance(), registry, kProductDisplayName);
  StartAccRequestServer(this);
}

bool CBaseFrame::IsTrayStartMode() {
  std::vector<Text> args = GetCommandLineArgs();
  return args.size() >= 2 && args[1] == u"tray";
}

BOOL CBaseFrame::OnInitDialog() {
  CBaseDHtmlPgDlg::OnInitDialog();
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
