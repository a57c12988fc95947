#include "html/base_split_web.h"

#include "html/base_split_body_web.h"
#include "html/script_literal.h"

const MessageMapEntry CBaseSplitWeb::kMessageEntries[] = {
    ON_MESSAGE(CBaseSplitWeb, WM_MOVE, OnMove),
};
const MessageMap CBaseSplitWeb::kMessageMap{&CBaseDHtmlPgDlg::kMessageMap, kMessageEntries};

CBaseSplitWeb::CBaseSplitWeb(const Text& frame_url, const Text& frame_selector,
                             const Text& body_url, const Text& body_selector, const Text& title,
                             TopLevelWindow* parent)
    : CBaseDHtmlPgDlg(frame_url, frame_selector, parent),
      m_strBodyUrl(body_url),
      m_strBodySelector(body_selector),
      m_strFrameTitle(title) {}

CBaseSplitWeb::~CBaseSplitWeb() {
  if (m_pBody) m_pBody->DestroyWindow();  // its object then deletes itself
}

// The frame keeps no reveal timer of its own: it turns opaque when the body is assembled.
void CBaseSplitWeb::OnPageLaidOut() {
  // Every completion in the frame's browser (inner frames, a new frame page) lands here; the
  // body already shown is kept rather than stacking another one on it.
  if (m_pBody) return;
  auto* body = new CBaseSplitBodyWeb(m_strBodyUrl, m_strBodySelector, this);
  if (!body->CreateModeless(this)) return;  // its PostNcDestroy released it
  body->ShowWindow(SW_HIDE);
  m_pBody = body;
}

void CBaseSplitWeb::OnBodyGone(CBaseSplitBodyWeb* body) {
  if (m_pBody == body) m_pBody = nullptr;
}

void CBaseSplitWeb::FitAroundBody(int width, int height, int32_t radius, int32_t extra_width,
                                  int32_t extra_height) {
  m_rcContainer = RECT{0, 0, width + kSplitExtraWidth, height + kSplitExtraHeight};
  ResizeWindow(width + kSplitExtraWidth, height + kSplitExtraHeight);
  ApplyWindowRound(radius, extra_width, extra_height);
  RunPageScript(u"$('.container').css('width', '" + ToText(width) +
                u"px');$('.container').css('height', '" +
                ToText(height + kSplitContainerExtraHeight) + u"px');");
  // The title is data, never script: it goes into the literal with everything escaped that
  // could end it.
  RunPageScript(u"$('.title').text('" + EscapeForScriptLiteral(m_strFrameTitle) + u"');");
  CenterOnScreen();
}

LRESULT CBaseSplitWeb::OnMove(WPARAM wparam, LPARAM lparam) {
  DefWindowProc(WM_MOVE, wparam, lparam);
  if (!m_pBody) return 0;
  const RECT& body_box = m_pBody->container_rect();
  m_pBody->MoveWindowTo(GET_X_LPARAM(lparam) - body_box.left + kSplitBodyLeft,
                        GET_Y_LPARAM(lparam) - body_box.top + kSplitBodyTop);
  SetTopMost();
  m_pBody->SetTopMost();
  return 0;
}
