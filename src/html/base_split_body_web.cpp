#include "html/base_split_body_web.h"

#include "framework/ui_thread.h"
#include "html/base_split_web.h"

const MessageMapEntry CBaseSplitBodyWeb::kMessageEntries[] = {
    ON_MESSAGE(CBaseSplitBodyWeb, WM_TIMER, OnTimer),
    ON_MESSAGE(CBaseSplitBodyWeb, WM_CREATE, OnCreate),
};
const MessageMap CBaseSplitBodyWeb::kMessageMap{&CBaseDHtmlPgDlg::kMessageMap, kMessageEntries};

CBaseSplitBodyWeb::CBaseSplitBodyWeb(const Text& url, const Text& selector, TopLevelWindow* frame)
    : CBaseDHtmlPgDlg(url, selector, frame) {}

LRESULT CBaseSplitBodyWeb::OnCreate(WPARAM wparam, LPARAM lparam) {
  if (CBaseDHtmlPgDlg::OnCreate(wparam, lparam) == -1) return -1;
  ResizeWindow(kSplitBodyInitialWidth, kSplitBodyInitialHeight);
  return 0;
}

void CBaseSplitBodyWeb::OnPageLaidOut() {
  SetTimer(kSplitAssemblyTimer, kSplitAssemblyDelayMs);
}

// Only the assembly timer is ever set through WM_TIMER on the body.
LRESULT CBaseSplitBodyWeb::OnTimer(WPARAM, LPARAM) {
  KillTimer(kSplitAssemblyTimer);
  auto* frame = dynamic_cast<CBaseSplitWeb*>(GetParent());
  if (!frame) return 0;
  const RECT body_box = m_rcContainer;
  frame->SetLayeredWindowAttributes(255);
  frame->FitAroundBody(body_box.right - body_box.left, body_box.bottom - body_box.top,
                       m_nRoundRadius, m_nRoundExtraWidth, m_nRoundExtraHeight);
  const RECT f = frame->GetWindowRect();
  MoveWindowTo(f.left - body_box.left + kSplitBodyLeft, f.top - body_box.top + kSplitBodyTop);
  frame->SetLayeredWindowAttributes(255);
  SetLayeredWindowAttributes(255);
  ShowWindow(SW_SHOWNORMAL);
  return 0;
}

void CBaseSplitBodyWeb::PostNcDestroy() {
  if (auto* frame = dynamic_cast<CBaseSplitWeb*>(GetParent())) frame->OnBodyGone(this);
  // Deleted once the call that closed the window (perhaps a method of its own page) returned.
  PostToUi([this] { delete this; });
}
