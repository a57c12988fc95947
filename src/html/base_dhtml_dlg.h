// The base of every page window: a frameless, layered dialog hosting one page. It loads its page,
// fits itself to the page's container element, clips itself to it, centres itself, takes the
// page title as its caption and turns opaque 100 ms later. Page script drives it through the
// thirteen window methods below. UI thread only.
#pragma once

#include <functional>
#include <vector>

#include "framework/html_dialog.h"
#include "html/element_selector.h"

// One element of the page, by its position in the document's element list.
struct HtmlElementRef {
  int index;
};

class CBaseDHtmlDlg : public HtmlDialog {
  DECLARE_MESSAGE_MAP()
  DECLARE_DISPATCH_MAP()

 public:
  CBaseDHtmlDlg(const Text& url, const Text& selector, TopLevelWindow* parent);
  ~CBaseDHtmlDlg() override;

  // TopLevelWindow methods for page script.
  void MinWindow();
  void MaxWindow();
  int32_t CloseWindow(int32_t code);
  void Show(bool show);
  void Hide();
  void CenterOnParent();
  void CenterOnScreen();
  void Move(int32_t x, int32_t y);
  void SetSize(int32_t width, int32_t height);
  void SetWindowRound(int32_t radius, int32_t extra_width, int32_t extra_height);
  void SetTransparent(int32_t alpha);
  int32_t NewInstance(bool modal, const Text& url, const Text& selector);
  void DrapAndDrop();

  // Runs `script` in the page. S_FALSE when no document is loaded yet; never waits on the page
  // (which may be blocked in a call of its own), so script errors are not seen here.
  HRESULT RunPageScript(const Text& script);

  BOOL OnInitDialog() override;
  void OnDocumentComplete(const Text& url) override;
  void BeforeScriptCall() override;
  HRESULT ShowContextMenu() override { return S_OK; }

  virtual int32_t DoCloseWindow(int32_t code);
  virtual void DoDragWindow();
  virtual int32_t DoNewInstance(bool modal, const Text& url, const Text& selector);

  [[nodiscard]] const RECT& container_rect() const { return m_rcContainer; }
  [[nodiscard]] int32_t round_radius() const { return m_nRoundRadius; }
  [[nodiscard]] int32_t round_extra_width() const { return m_nRoundExtraWidth; }
  [[nodiscard]] int32_t round_extra_height() const { return m_nRoundExtraHeight; }

 protected:
  LRESULT OnCreate(WPARAM wparam, LPARAM lparam);
  LRESULT OnTimer(WPARAM wparam, LPARAM lparam);
  void PostNcDestroy() override;
  // Creates `dialog` as a modeless window owned by this one, shows it and lets it delete itself
  // once its window is gone.
  static void ShowModeless(CBaseDHtmlDlg* dialog, TopLevelWindow* owner);
  // DoNewInstance for a page window class: a modal `Dialog` returns its code when it ends; a
  // modeless one is shown and 0 returned at once.
  template <typename Dialog>
  int32_t OpenInstance(bool modal, const Text& url, const Text& selector) {
    if (modal) {
      Dialog dialog(url, selector, this);
      return static_cast<int32_t>(dialog.DoModal());
    }
    ShowModeless(new Dialog(url, selector, this), this);
    return 0;
  }

  // What follows the layout of a completed document (or its skipping, for an inner frame): the
  // reveal timer.
  virtual void OnPageLaidOut();
  // Fits the window to the page that completed; `done` runs when the layout has finished (or was
  // skipped), never for a window that is gone.
  void LayoutToPage(const Text& url, std::function<void()> done);
  // Runs one of the layout's scripts in the page and hands its value as JSON to `next`.
  using PageQuery = std::function<void(const Text& script, JsonResult next)>;
  void FindElementsBySelector(ElementSelector::Kind kind, const Text& name, const PageQuery& query,
                              std::function<void(std::vector<HtmlElementRef>)> done);
  void ApplyWindowRound(int32_t radius, int32_t extra_width, int32_t extra_height);

  Text m_strSelector;
  RECT m_rcContainer{};
  int32_t m_nRoundRadius = 0;
  int32_t m_nRoundExtraWidth = 0;
  int32_t m_nRoundExtraHeight = 0;
  Text m_strTitle;

 private:
  static const MessageMapEntry kMessageEntries[];
  static const DispatchEntry kDispatchEntries[];
  void LayoutWith(const Text& url, const PageQuery& query, std::function<void()> done);
  void FinishLayout(bool local, bool matched, const RECT& box, const Text& title);
  unsigned layout_generation_ = 0;
  unsigned laid_out_document_ = 0;        // DocumentSerial of the last document laid out
  unsigned early_laid_out_document_ = 0;  // ... when that was done during a call of its page
  bool auto_delete_ = false;
};
