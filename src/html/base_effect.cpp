#include "html/base_effect.h"

#include <chrono>
#include <thread>

#include "framework/application.h"
#include "framework/message_box.h"
#include "framework/ui_thread.h"
#include "framework/win_api.h"
#include "framework/window_registry.h"
#include "html/base_dhtml_dlg.h"
#include "html/effect_plan.h"

namespace {

constexpr size_t kSlideFields = 5;
constexpr size_t kFadeFields = 7;
enum Kind { kFade = 0, kSlide = 1 };
enum SlideMode {
  kVerticalMove = 0,
  kVerticalCollapse = 1,
  kHorizontalReveal = 2,
  kHorizontalCollapse = 3
};

void PlaceAtCorner(CBaseDHtmlDlg& window, int corner, const RECT& box, const RECT& work_area) {
  if (auto at = CornerOrigin(corner, box, work_area)) window.MoveWindow(at->x, at->y);
}

// Clips the window to `box` with its own round values, which stay as they are.
void ClipTo(CBaseDHtmlDlg& window, const RECT& box) {
  window.SetWindowRgn(WindowRegion::RoundRect(
      box.left, box.top, box.right + window.round_extra_width(),
      box.bottom + window.round_extra_height(), window.round_radius(), window.round_radius()));
}

}  // namespace

void CBaseEffect::Start(CBaseDHtmlDlg& target, const Text& effect) {
  std::vector<int32_t> fields = ParseEffectFields(effect);
  const HWND hwnd = fields.size() >= kSlideFields ? target.GetSafeHwnd() : 0;
  // The thread ends with its effect: nothing is ever asked of it afterwards.
  std::thread([effect = CBaseEffect(hwnd, std::move(fields))]() mutable {
    effect.InitInstance();
  }).detach();
}

CBaseEffect::CBaseEffect(HWND target, std::vector<int32_t> fields)
    : m_hTarget(target), m_fields(std::move(fields)) {}

BOOL CBaseEffect::InitInstance() {
  if (m_fields.size() < kSlideFields) return TRUE;
  switch (Field(2)) {
    case kFade:
      Fade();
      break;
    case kSlide:
      Slide();
      break;
    default:
      break;
  }
  return TRUE;
}

int32_t CBaseEffect::Field(size_t index) const {
  return index < m_fields.size() ? m_fields[index] : 0;
}

bool CBaseEffect::OnTarget(
    const std::function<void(CBaseDHtmlDlg&, const RECT& work_area)>& step) const {
  bool found = false;
  RunOnUiAndWait([&] {
    auto* window = dynamic_cast<CBaseDHtmlDlg*>(FindOwnWindow(m_hTarget));
    if (!window) return;
    found = true;
    step(*window, GetWorkArea());
  });
  return found;
}

void CBaseEffect::Animate(const std::function<void(double t)>& apply,
                          const std::function<void()>& apply_final) {
  const auto interval = static_cast<uint32_t>(Field(1));
  EffectStepClock clock(static_cast<uint32_t>(Field(0)), interval);
  while (std::optional<double> t = clock.Next()) {
    apply(*t);
    std::this_thread::sleep_for(std::chrono::milliseconds(interval));
  }
  apply_final();
}

void CBaseEffect::Fade() {
  if (m_fields.size() < kFadeFields) {
    MessageBoxW(0, u"渐变参数个数应是7个", Application::AppName());
    return;
  }
  const int corner = Field(4), start = Field(5), end = Field(6);
  if (!m_hTarget || !OnTarget([corner](CBaseDHtmlDlg& w, const RECT& work) {
        PlaceAtCorner(w, corner, w.container_rect(), work);
      })) {
    MessageBoxW(0, u"参数不对", Application::AppName());
    return;
  }
  auto set_alpha = [this](int alpha) {
    OnTarget([alpha](CBaseDHtmlDlg& w, const RECT&) {
      w.SetLayeredWindowAttributes(static_cast<BYTE>(alpha & 0xFF));
    });
  };
  Animate(
      [&](double t) { set_alpha(static_cast<int>(start + static_cast<double>(end - start) * t)); },
      [&] { set_alpha(end); });
}

void CBaseEffect::Slide() {
  const int mode = Field(3), corner = Field(4);
  // One step of the slide at `t`; the final state is the step at t = 1.
  std::function<void(CBaseDHtmlDlg&, const RECT&, double)> step;
  switch (mode) {
    case kVerticalMove:
      step = [corner](CBaseDHtmlDlg& w, const RECT& work, double t) {
        const RECT& c = w.container_rect();
        if (auto at = VerticalMoveOrigin(corner, c, work, static_cast<int>(t * c.bottom)))
          w.MoveWindow(at->x, at->y);
      };
      break;
    case kVerticalCollapse:
      step = [corner](CBaseDHtmlDlg& w, const RECT& work, double t) {
        const RECT& c = w.container_rect();
        const RECT box{c.left, c.top, c.right, static_cast<int>((1 - t) * c.bottom)};
        PlaceAtCorner(w, corner, box, work);
        if (corner == 1 || corner == 2) ClipTo(w, box);
      };
      break;
    case kHorizontalReveal:
      step = [corner](CBaseDHtmlDlg& w, const RECT& work, double t) {
        const RECT& c = w.container_rect();
        const RECT box{c.left, c.top, static_cast<int>(t * c.right), c.bottom};
        PlaceAtCorner(w, corner, box, work);
        if (corner == 1 || corner == 3) ClipTo(w, box);
      };
      break;
    case kHorizontalCollapse:
      step = [corner](CBaseDHtmlDlg& w, const RECT& work, double t) {
        const RECT& c = w.container_rect();
        const RECT box{c.left, c.top, static_cast<int>((1 - t) * c.right), c.bottom};
        PlaceAtCorner(w, corner, box, work);
        ClipTo(w, box);
      };
      break;
    default:
      return;
  }
  auto at = [&](double t) {
    OnTarget([&](CBaseDHtmlDlg& w, const RECT& work) { step(w, work, t); });
  };
  Animate(at, [&] { at(1.0); });
}
