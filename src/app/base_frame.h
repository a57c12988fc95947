// The main window: shows the main page and handles the "tray" start mode, in which the window
// stays hidden (and without a taskbar button) until page script shows it. UI thread only.
#pragma once

#include "html/base_dhtml_dlg.h"

class CBaseFrame : public CBaseDHtmlDlg {
  DECLARE_MESSAGE_MAP()

 public:
  CBaseFrame(const Text& url, const Text& selector, TopLevelWindow* parent);

  BOOL OnInitDialog() override;
  int32_t DoNewInstance(bool modal, const Text& url, const Text& selector) override;

  // True when the first argument after the program name is exactly "tray". Read afresh.
  [[nodiscard]] static bool IsTrayStartMode();

 protected:
  LRESULT OnTimer(WPARAM wparam, LPARAM lparam);

 private:
  static const MessageMapEntry kMessageEntries[];
};
