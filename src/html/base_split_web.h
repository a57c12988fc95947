// The frame of a split window: a page that draws a title bar and border, with a second page,
// the body (CBaseSplitBodyWeb), shown inside it. The frame creates the body once its own page
// has loaded; the body fits the frame around itself, and from then on the two move as one and
// stay above other windows. UI thread only.
#pragma once

#include "html/base_dhtml_pg_dlg.h"

class CBaseSplitBodyWeb;

// Where the body's container sits in the frame, and how much larger the frame is.
inline constexpr int kSplitBodyLeft = 1;
inline constexpr int kSplitBodyTop = 30;
inline constexpr int kSplitExtraWidth = 2;
inline constexpr int kSplitExtraHeight = 31;
// The frame page's container is the body's width and its height plus this.
inline constexpr int kSplitContainerExtraHeight = 29;

class CBaseSplitWeb : public CBaseDHtmlPgDlg {
  DECLARE_MESSAGE_MAP()

 public:
  CBaseSplitWeb(const Text& frame_url, const Text& frame_selector, const Text& body_url,
                const Text& body_selector, const Text& title, TopLevelWindow* parent);
  // Takes the body's window down with the frame's.
  ~CBaseSplitWeb() override;

  // Called by the body once its page is laid out: sizes the frame around a body container of
  // `width` × `height` with the body's round values, fills in the frame page and centres the
  // frame on the desktop.
  void FitAroundBody(int width, int height, int32_t radius, int32_t extra_width,
                     int32_t extra_height);
  // Called by the body when its window is gone.
  void OnBodyGone(CBaseSplitBodyWeb* body);

 protected:
  // After every document completion of the frame's browser (inner frames too): creates the body,
  // hidden, unless one is already there.
  void OnPageLaidOut() override;
  LRESULT OnMove(WPARAM wparam, LPARAM lparam);

 private:
  static const MessageMapEntry kMessageEntries[];

  CBaseSplitBodyWeb* m_pBody = nullptr;
  Text m_strBodyUrl;
  Text m_strBodySelector;
  Text m_strFrameTitle;
};
