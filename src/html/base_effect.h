// One window effect: a fade of a page window's alpha or a slide into or out of a corner of the
// work area, run step by step on a worker thread of its own. The worker never touches the
// window itself: each step runs on the user-interface thread while the worker waits, and a
// window that has gone meanwhile is left alone. Steps are paced by sleeping `interval` ms.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/text.h"
#include "base/win_types.h"

class CBaseDHtmlDlg;

class CBaseEffect {
 public:
  // UI thread. Starts the effect described by `effect` on `target` and returns at once. A text
  // of fewer than five fields names no target, and nothing changes.
  static void Start(CBaseDHtmlDlg& target, const Text& effect);

  CBaseEffect(HWND target, std::vector<int32_t> fields);
  // Worker thread. Runs the whole effect; returns TRUE.
  BOOL InitInstance();

 private:
  void Fade();
  void Slide();
  // Runs `step` on the UI thread with the target and the work area; false when the target is
  // gone.
  bool OnTarget(const std::function<void(CBaseDHtmlDlg&, const RECT& work_area)>& step) const;
  // Runs `apply(t)` for each step, pausing after each, then `apply_final()`.
  void Animate(const std::function<void(double t)>& apply,
               const std::function<void()>& apply_final);
  [[nodiscard]] int32_t Field(size_t index) const;

  HWND m_hTarget;
  std::vector<int32_t> m_fields;
};
