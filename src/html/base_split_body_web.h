// The body of a split window: a page dialog shown inside its frame (CBaseSplitWeb, the window
// that owns it). It cannot be dragged by itself and ignores the OK and cancel commands; 100 ms
// after its page is laid out (timer 2) it fits the frame around itself and appears. The object
// deletes itself once its window is gone. UI thread only.
#pragma once

#include "html/base_dhtml_pg_dlg.h"

inline constexpr UINT_PTR kSplitAssemblyTimer = 2;
inline constexpr UINT kSplitAssemblyDelayMs = 100;
inline constexpr int kSplitBodyInitialWidth = 800;
inline constexpr int kSplitBodyInitialHeight = 600;

class CBaseSplitBodyWeb : public CBaseDHtmlPgDlg {
  DECLARE_MESSAGE_MAP()

 public:
  CBaseSplitBodyWeb(const Text& url, const Text& selector, TopLevelWindow* frame);

  void DoDragWindow() override {}

 protected:
  // The body's page is laid out: the assembly follows 100 ms later.
  void OnPageLaidOut() override;
  LRESULT OnTimer(WPARAM wparam, LPARAM lparam);
  LRESULT OnCreate(WPARAM wparam, LPARAM lparam);
  void PostNcDestroy() override;

 private:
  static const MessageMapEntry kMessageEntries[];
};
