// The page dialog: a page window that offers page script the host services (files, registry,
// paths, processes, HTTP, reports, ...) and turns window messages into page events: every
// command, message 1125 and the end of the user's session reach the page as
// UI.onUserMessage(code, value). Commands never end the dialog by themselves. UI thread only.
#pragma once

#include "html/base_dhtml_dlg.h"

class CBaseDHtmlPgDlg : public CBaseDHtmlDlg {
  DECLARE_MESSAGE_MAP()
  DECLARE_DISPATCH_MAP()

 public:
  CBaseDHtmlPgDlg(const Text& url, const Text& selector, TopLevelWindow* parent);

  BOOL OnCommand(WPARAM wparam, LPARAM lparam) override;
  int32_t DoNewInstance(bool modal, const Text& url, const Text& selector) override;

  // Host methods that act on this window or need it.
  Text GetCurrWindowText();
  int32_t FindWindowByName(const Text& title);
  bool IsVisible();
  int32_t SendMessageTo(int32_t window, int32_t message, int32_t wparam, int32_t lparam);
  int32_t PostMessageTo(int32_t window, int32_t message, int32_t wparam, int32_t lparam);
  bool DownLoadFile(const Text& url, const Text& path);
  bool UploadFile(const Text& url, const Text& path, const Text& user_agent, const Text& boundary,
                  const Text& disposition);
  // The notification-area icon: tool-tip and menu ("text,number,text,number..."), balloon tips
  // for `time` ms, removal.
  void ShowTray(const Text& tip, const Text& spec);
  void ShowTip(const Text& title, const Text& text, int32_t time);
  void FreeTray();
  // A split window (frame page around a body page) run modally; returns the frame's close code.
  int32_t CreateSplitWeb(const Text& frame_url, const Text& frame_selector, const Text& body_url,
                         const Text& body_selector, const Text& title);
  // Starts a fade or slide of this window on a worker thread ("duration,interval,kind,...").
  void ShowEffect(const Text& effect);

 protected:
  LRESULT OnCreate(WPARAM wparam, LPARAM lparam);
  LRESULT OnTrayCallback(WPARAM wparam, LPARAM lparam);
  LRESULT PostPageMessage(WPARAM wparam, LPARAM lparam);
  LRESULT OnEndSession(WPARAM wparam, LPARAM lparam);

 private:
  // The product icon as the window's big and small icon.
  void SetProductIcon();
  static void OnTipTimer(HWND window, UINT message, UINT_PTR id, DWORD time);

  static const MessageMapEntry kMessageEntries[];
  static const DispatchEntry kDispatchEntries[];
};
