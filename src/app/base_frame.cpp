#include "app/base_frame.h"

#include "app/product.h"
#include "app/reg_key_string_reader.h"
#include "base/command_line.h"
#include "base/diagnostic.h"
#include "framework/application.h"
#include "framework/message_box.h"
#include "framework/win_api.h"
#include "html/page_events.h"
#include "net/ping_task.h"
#include "pipe/acc_request_server.h"
#include "pipe/pipe_client_methods.h"
#include "pipe/service_bootstrap.h"
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
    DISP_METHOD(CBaseFrame, GetProxyType),
    DISP_METHOD(CBaseFrame, DisableProxy),
    DISP_METHOD(CBaseFrame, SetAutoConfigProxy),
    DISP_METHOD(CBaseFrame, GetNetworkInfo),
    DISP_METHOD(CBaseFrame, GetCurrDownloadTotal),
    DISP_METHOD(CBaseFrame, GetCurrUploadTotal),
    DISP_FUNCTION(PipeClientWrite),
    DISP_FUNCTION(PipeClientRead),
    DISP_FUNCTION(PipeClientConnect),
    DISP_FUNCTION(PipeClientDisconnect),
    DISP_FUNCTION(InitService),
    DISP_METHOD(CBaseFrame, Ping),
};
const DispatchTable CBaseFrame::kDispatchTable{&CBaseDHtmlPgDlg::kDispatchTable, kDispatchEntries,
                                               /*remote_callable=*/false};

CBaseFrame::CBaseFrame(const Text& url, const Text& selector, TopLevelWindow* parent)
    : CBaseDHtmlPgDlg(url, selector, parent), m_proxyConfig([this](const Text& text) {
        MessageBoxW(GetSafeHwnd(), text, Application::AppName());
      }) {
  static_assert(std::size(kDispatchEntries) == 12);
  RegKeyStringReader registry;
  RunMainWindowReportSetUp(MorvilReportInstance(), registry, kProductDisplayName);
  if (!StartAccRequestServer(this)) PrintDiagnostic("acceleration request server not started\n");
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

void CBaseFrame::Ping(const Text& host, int32_t count, int32_t timeout) {
  const HWND self = GetSafeHwnd();
  ::Ping(host, count, timeout, [self](int32_t average, int32_t quenches) {
    SendMessageW(self, WM_PAGE_MESSAGE, static_cast<WPARAM>(average),
                 static_cast<LPARAM>(quenches));
  });
}

int32_t CBaseFrame::DoNewInstance(bool modal, const Text& url, const Text& selector) {
  return OpenInstance<CBaseFrame>(modal, url, selector);
}
