#include "html/base_dhtml_pg_dlg.h"

#include "base/diagnostic.h"
#include "base/path.h"
#include "framework/ui_thread.h"
#include "framework/win_api.h"
#include "framework/window_registry.h"
#include "html/base_effect.h"
#include "html/base_split_web.h"
#include "html/page_events.h"
#include "html/tray_shell.h"
#include "net/base_http_file.h"
#include "net/http_string_requests.h"
#include "platform/popup_menu.h"
#include "report/report_methods.h"
#include "services/command_line_text.h"
#include "services/file_methods.h"
#include "services/pairs.h"
#include "services/process_methods.h"
#include "services/registry_methods.h"
#include "services/shell_execute.h"
#include "services/shortcut.h"
#include "services/special_folders.h"
#include "services/working_set.h"

const MessageMapEntry CBaseDHtmlPgDlg::kMessageEntries[] = {
    ON_MESSAGE(CBaseDHtmlPgDlg, WM_CREATE, OnCreate),
    ON_MESSAGE(CBaseDHtmlPgDlg, WM_TRAY_CALLBACK, OnTrayCallback),
    ON_MESSAGE(CBaseDHtmlPgDlg, WM_PAGE_MESSAGE, PostPageMessage),
    ON_MESSAGE(CBaseDHtmlPgDlg, WM_ENDSESSION, OnEndSession),
};
const MessageMap CBaseDHtmlPgDlg::kMessageMap{&CBaseDHtmlDlg::kMessageMap, kMessageEntries};

const DispatchEntry CBaseDHtmlPgDlg::kDispatchEntries[] = {
    DISP_FUNCTION(GetVersion),
    DISP_FUNCTION(GetInstallDate),
    DISP_FUNCTION(GetSourceID),
    DISP_FUNCTION(GetClientID),
    DISP_FUNCTION(StartReportZh),
    DISP_FUNCTION(StartReport),
    DISP_FUNCTION(InitReport),
    DISP_FUNCTION(ReportWait),
    DISP_FUNCTION(GetCommandLine),
    DISP_FUNCTION(ShellExecuteAndWait),
    DISP_FUNCTION(ShellExecute),
    DISP_FUNCTION(GetPair),
    DISP_FUNCTION(InsertPair),
    DISP_FUNCTION(GetCommonAppDataPath),
    DISP_FUNCTION(GetCommonDesktopPath),
    DISP_FUNCTION(GetCommonDocumentsPath),
    DISP_FUNCTION(GetCommonStartMenuPath),
    DISP_FUNCTION(GetCommonStartupPath),
    DISP_FUNCTION(GetCommonProgramFilesPath),
    DISP_FUNCTION(GetUserAppDataPath),
    DISP_FUNCTION(GetUserLocalAppDataPath),
    DISP_FUNCTION(GetUserDesktopPath),
    DISP_FUNCTION(GetUserDocumentsPath),
    DISP_FUNCTION(GetUserStartMenuPath),
    DISP_FUNCTION(GetUserStartupPath),
    DISP_FUNCTION(GetUserProgramFilesPath),
    DISP_FUNCTION(GetSystemPath),
    DISP_FUNCTION(GetWindowsPath),
    DISP_FUNCTION(GetAppCurrentPath),
    DISP_FUNCTION(RegReadString),
    DISP_FUNCTION(RegReadInt),
    DISP_FUNCTION(RegWriteString),
    DISP_FUNCTION(RegWriteInt),
    DISP_FUNCTION(ReadConfig),
    DISP_FUNCTION(WriteConfig),
    DISP_FUNCTION(ReadFileContent),
    DISP_FUNCTION(WriteFileContent),
    DISP_FUNCTION(DeleteFile),
    DISP_FUNCTION(MoveFile),
    DISP_FUNCTION(FileExist),
    DISP_FUNCTION(CreateDirectory),
    DISP_FUNCTION(DeleteDirectory),
    DISP_FUNCTION(DirectoryExist),
    DISP_FUNCTION(FileExists),
    DISP_FUNCTION(CreateShortcut),
    DISP_METHOD(CBaseDHtmlPgDlg, GetCurrWindowText),
    DISP_METHOD(CBaseDHtmlPgDlg, FindWindowByName),
    DISP_METHOD_AS(IsWindowVisible, CBaseDHtmlPgDlg, IsVisible),
    DISP_METHOD_AS(SendMessage, CBaseDHtmlPgDlg, SendMessageTo),
    DISP_METHOD_AS(PostMessage, CBaseDHtmlPgDlg, PostMessageTo),
    DISP_METHOD(CBaseDHtmlPgDlg, ShowTray),
    DISP_METHOD(CBaseDHtmlPgDlg, ShowTip),
    DISP_METHOD(CBaseDHtmlPgDlg, FreeTray),
    DISP_FUNCTION(SetProcessWorkingSetSize),
    DISP_METHOD(CBaseDHtmlPgDlg, DownLoadFile),
    DISP_METHOD(CBaseDHtmlPgDlg, UploadFile),
    DISP_FUNCTION(GetStringFromUrl),
    DISP_FUNCTION(PostDataToUrl),
    DISP_METHOD(CBaseDHtmlPgDlg, CreateSplitWeb),
    DISP_FUNCTION(FindProcessByExecFileName),
    DISP_FUNCTION(CloseProcessByHandle),
    DISP_METHOD(CBaseDHtmlPgDlg, ShowEffect),
};
const DispatchTable CBaseDHtmlPgDlg::kDispatchTable{&CBaseDHtmlDlg::kDispatchTable,
                                                    kDispatchEntries,
                                                    /*remote_callable=*/false};

CBaseDHtmlPgDlg::CBaseDHtmlPgDlg(const Text& url, const Text& selector, TopLevelWindow* parent)
    : CBaseDHtmlDlg(url, selector, parent) {
  static_assert(std::size(kDispatchEntries) == 62);
}

namespace {

Text ProductIconFile() {
  return GetAppDirectory() + u"/res/images/morvil-icon.svg";
}

}  // namespace

void CBaseDHtmlPgDlg::SetProductIcon() {
  SetIconFromFile(ProductIconFile());
}

LRESULT CBaseDHtmlPgDlg::OnCreate(WPARAM wparam, LPARAM lparam) {
  if (CBaseDHtmlDlg::OnCreate(wparam, lparam) == -1) return -1;
  // Reading and drawing the icon takes a while; the window is not seen before its page is laid
  // out, so the icon comes once the page has begun to load.
  const HWND self = GetSafeHwnd();
  PostToUi([self] {
    if (auto* window = dynamic_cast<CBaseDHtmlPgDlg*>(FindOwnWindow(self)))
      window->SetProductIcon();
  });
  TheTrayRecord().AdoptWindow(GetSafeHwnd(), ProductIconFile());
  return 0;
}

LRESULT CBaseDHtmlPgDlg::OnTrayCallback(WPARAM, LPARAM lparam) {
  const HWND self = GetSafeHwnd();
  if (lparam == WM_LBUTTONDOWN) {
    ShowWindow(SW_SHOWNORMAL);
    SetForegroundWindow(self);
  } else if (lparam == WM_RBUTTONDOWN && TheTrayRecord().menu()) {
    SetForegroundWindow(self);
    StatusIconMenu menu;
    for (const TrayMenuItem& item : *TheTrayRecord().menu())
      menu.push_back({item.text, item.command});
    PopupMenuAtPointer(menu,
                       [self](uint16_t command) { PostMessageW(self, WM_COMMAND, command, 0); });
  }
  return 0;
}

void CBaseDHtmlPgDlg::ShowTray(const Text& tip, const Text& spec) {
  TheTrayRecord().ShowTray(tip, spec);
}

void CBaseDHtmlPgDlg::ShowTip(const Text& title, const Text& text, int32_t time) {
  TheTrayRecord().ShowTip(title, text, time);
  SetTimer(kTipTimerId, kTipTimerPeriodMs, &CBaseDHtmlPgDlg::OnTipTimer);
}

void CBaseDHtmlPgDlg::OnTipTimer(HWND window, UINT, UINT_PTR id, DWORD) {
  if (!TheTrayRecord().TipTick()) return;
  if (TopLevelWindow* w = FindOwnWindow(window)) w->KillTimer(id);
}

void CBaseDHtmlPgDlg::FreeTray() {
  TheTrayRecord().FreeTray();
}

int32_t CBaseDHtmlPgDlg::CreateSplitWeb(const Text& frame_url, const Text& frame_selector,
                                        const Text& body_url, const Text& body_selector,
                                        const Text& title) {
  CBaseSplitWeb frame(frame_url, frame_selector, body_url, body_selector, title, this);
  return static_cast<int32_t>(frame.DoModal());
}

void CBaseDHtmlPgDlg::ShowEffect(const Text& effect) {
  CBaseEffect::Start(*this, effect);
}

LRESULT CBaseDHtmlPgDlg::PostPageMessage(WPARAM wparam, LPARAM lparam) {
  return RunPageScript(PageEventScript(static_cast<int32_t>(wparam), static_cast<int32_t>(lparam)));
}

LRESULT CBaseDHtmlPgDlg::OnEndSession(WPARAM, LPARAM) {
  return SendMessageW(GetSafeHwnd(), WM_PAGE_MESSAGE, kEndSessionEvent, 0);
}

BOOL CBaseDHtmlPgDlg::OnCommand(WPARAM wparam, LPARAM lparam) {
  return PostMessageW(GetSafeHwnd(), WM_PAGE_MESSAGE, wparam, lparam);
}

int32_t CBaseDHtmlPgDlg::DoNewInstance(bool modal, const Text& url, const Text& selector) {
  return OpenInstance<CBaseDHtmlPgDlg>(modal, url, selector);
}

Text CBaseDHtmlPgDlg::GetCurrWindowText() {
  return GetWindowText();
}

int32_t CBaseDHtmlPgDlg::FindWindowByName(const Text& title) {
  return static_cast<int32_t>(FindWindowW(title));
}

bool CBaseDHtmlPgDlg::IsVisible() {
  return IsWindowVisible();
}

int32_t CBaseDHtmlPgDlg::SendMessageTo(int32_t window, int32_t message, int32_t wparam,
                                       int32_t lparam) {
  PrintDiagnostic(std::to_string(message) + " - >" + std::to_string(wparam) + "\n");
  return static_cast<int32_t>(SendMessageW(static_cast<HWND>(window), static_cast<UINT>(message),
                                           static_cast<WPARAM>(wparam),
                                           static_cast<LPARAM>(lparam)));
}

int32_t CBaseDHtmlPgDlg::PostMessageTo(int32_t window, int32_t message, int32_t wparam,
                                       int32_t lparam) {
  return PostMessageW(static_cast<HWND>(window), static_cast<UINT>(message),
                      static_cast<WPARAM>(wparam), static_cast<LPARAM>(lparam));
}

bool CBaseDHtmlPgDlg::DownLoadFile(const Text& url, const Text& path) {
  return TheHttpFile().DownLoadFile(url, path);
}

bool CBaseDHtmlPgDlg::UploadFile(const Text& url, const Text& path, const Text& user_agent,
                                 const Text& boundary, const Text& disposition) {
  return TheHttpFile().UploadFile(url, path, user_agent, boundary, disposition);
}
