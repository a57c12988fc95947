#include "html/base_dhtml_dlg.h"

#include <cmath>
#include <cstdlib>
#include <memory>

#include "base/path.h"
#include "framework/bridge_protocol.h"
#include "framework/ui_thread.h"
#include "framework/web_context.h"
#include "framework/win_api.h"
#include "framework/window_registry.h"
#include "html/page_url.h"
#include "html/window_geometry.h"

namespace {

constexpr UINT_PTR kRevealTimer = 1;
constexpr UINT kRevealDelayMs = 100;
constexpr int kInitialWidth = 1920;
constexpr int kInitialHeight = 1080;
constexpr RECT kNoContainer{0, 0, 400, 300};

// Lists one attribute of every element in document order: id ('#'), class ('.') or tag name.
Text ElementWalkScript(char16_t kind) {
  return u"(function(k){var all=document.getElementsByTagName('*'),out=[];"
         u"for(var i=0;i<all.length;i++){var e=all[i];"
         u"out.push(k=='#'?String(e.id||''):k=='.'?String(e.getAttribute('class')||''):"
         u"String(e.tagName||''));}return out;})('" +
         Text(1, kind) + u"')";
}

// Pins element `index` (when asked), reads its box and the document title:
// [left, top, right, bottom, title]; the box is all zeros when it cannot be read.
Text BoxAndTitleScript(int index, bool pin) {
  return u"(function(i,pin){var r=[0,0,0,0];var e=document.getElementsByTagName('*')[i];"
         u"if(e){if(pin){e.style.position='absolute';e.style.top='0px';e.style.left='0px';}"
         u"try{var b=e.getBoundingClientRect();r=[b.left,b.top,b.right,b.bottom];}catch(x){}}"
         u"return r.concat([String(document.title||'')]);})(" +
         ToText(index) + u"," + (pin ? u"true" : u"false") + u")";
}

// A number of the layout's JSON reply, rounded to whole pixels.
int32_t PixelsOf(const Text& number) {
  const double d = std::strtod(ToUtf8(number).c_str(), nullptr);
  return std::isfinite(d) ? static_cast<int32_t>(std::lround(d)) : 0;
}

}  // namespace

const MessageMapEntry CBaseDHtmlDlg::kMessageEntries[] = {
    ON_MESSAGE(CBaseDHtmlDlg, WM_CREATE, OnCreate),
    ON_MESSAGE(CBaseDHtmlDlg, WM_TIMER, OnTimer),
};
const MessageMap CBaseDHtmlDlg::kMessageMap{&TopLevelWindow::kMessageMap, kMessageEntries};

const DispatchEntry CBaseDHtmlDlg::kDispatchEntries[] = {
    DISP_METHOD(CBaseDHtmlDlg, MinWindow),      DISP_METHOD(CBaseDHtmlDlg, MaxWindow),
    DISP_METHOD(CBaseDHtmlDlg, CloseWindow),    DISP_METHOD(CBaseDHtmlDlg, Show),
    DISP_METHOD(CBaseDHtmlDlg, Hide),           DISP_METHOD(CBaseDHtmlDlg, CenterOnParent),
    DISP_METHOD(CBaseDHtmlDlg, CenterOnScreen), DISP_METHOD(CBaseDHtmlDlg, Move),
    DISP_METHOD(CBaseDHtmlDlg, SetSize),        DISP_METHOD(CBaseDHtmlDlg, SetWindowRound),
    DISP_METHOD(CBaseDHtmlDlg, SetTransparent), DISP_METHOD(CBaseDHtmlDlg, NewInstance),
    DISP_METHOD(CBaseDHtmlDlg, DrapAndDrop),
};
// Window methods are the only ones a page from elsewhere than the local disk may call.
const DispatchTable CBaseDHtmlDlg::kDispatchTable{nullptr, kDispatchEntries,
                                                  /*remote_callable=*/true};

CBaseDHtmlDlg::CBaseDHtmlDlg(const Text& url, const Text& selector, TopLevelWindow* parent)
    : HtmlDialog(parent), m_strSelector(selector) {
  SetCurrentUrl(ResolvePageUrl(url, PageBaseDirectory()));
}

CBaseDHtmlDlg::~CBaseDHtmlDlg() = default;

LRESULT CBaseDHtmlDlg::OnCreate(WPARAM, LPARAM) {
  ModifyStyle(~DWORD(0), WS_POPUP | DS_MODALFRAME | DS_SETFONT);
  ModifyStyleEx(~DWORD(0), WS_EX_LAYERED);
  // Nothing of the window reaches the screen before its page is laid out, compositor or not.
  WithholdShowing();
  SetLayeredWindowAttributes(0);
  ResizeWindow(kInitialWidth, kInitialHeight);
  SetBrowserProxyDirect();
  return 0;
}

BOOL CBaseDHtmlDlg::OnInitDialog() {
  HtmlDialog::OnInitDialog();
  SetSilent(true);
  return TRUE;
}

void CBaseDHtmlDlg::OnDocumentComplete(const Text& url) {
  HtmlDialog::OnDocumentComplete(url);
  // The page was laid out when it first called us during its load; that layout stands for
  // this completion, and its reveal timer runs already.
  if (url == GetCurrentUrl() && early_laid_out_document_ == DocumentSerial()) return;
  LayoutToPage(url, [this] { OnPageLaidOut(); });
}

void CBaseDHtmlDlg::OnPageLaidOut() {
  SetTimer(kRevealTimer, kRevealDelayMs);
}

void CBaseDHtmlDlg::BeforeScriptCall() {
  // A page that calls before its document was laid out (from its load handlers, or before a
  // started layout could run in it) is laid out now: the call may block for long (a modal
  // window, a transfer), and its script cannot run the layout's queries before it returns.
  // The page waits in the call meanwhile and answers them there.
  if (!HasDocument() || laid_out_document_ == DocumentSerial()) return;
  std::optional<std::string> state = QueryPageInCall(u"document.readyState");
  std::optional<Text> ready = state ? DecodeJsonString(*state) : std::nullopt;
  if (!ready || *ready == u"loading") return;  // not parsed yet: there is no container to fit
  // A complete document (its load handlers run) is laid out as its completion will find it; an
  // interactive one may still change as its images arrive, so its completion lays it out again.
  const bool complete = *ready == u"complete";
  SetCurrentUrl(CommittedUrl());
  LayoutWith(
      GetCurrentUrl(),
      [this](const Text& script, JsonResult next) { next(QueryPageInCall(script)); },
      [this, complete] {
        if (complete) early_laid_out_document_ = DocumentSerial();
        OnPageLaidOut();
      });
}

LRESULT CBaseDHtmlDlg::OnTimer(WPARAM id, LPARAM lparam) {
  if (id == kRevealTimer) {
    SetLayeredWindowAttributes(255);
    KillTimer(kRevealTimer);
  }
  return DefWindowProc(WM_TIMER, id, lparam);
}

void CBaseDHtmlDlg::LayoutToPage(const Text& url, std::function<void()> done) {
  LayoutWith(
      url, [this](const Text& script, JsonResult next) { EvaluateScriptAsJson(script, next); },
      std::move(done));
}

void CBaseDHtmlDlg::LayoutWith(const Text& url, const PageQuery& query,
                               std::function<void()> done) {
  if (url.empty() || url != GetCurrentUrl()) {  // an inner frame: nothing to lay out
    done();
    return;
  }
  if (!IsResourceIdUrl(url) && !IsRemotePageUrl(url)) PageBaseDirectory() = GetParentPath(url);
  ElementSelector selector = ElementSelector::Parse(m_strSelector);
  const bool local = IsLocalPageUrl(url);
  const unsigned generation = ++layout_generation_;
  const unsigned document = DocumentSerial();
  FindElementsBySelector(
      selector.kind, selector.name, query,
      [this, query, local, generation, document, done](std::vector<HtmlElementRef> matches) {
        if (generation != layout_generation_) return;  // a newer layout took over
        const bool matched = !matches.empty();
        const int index = matched ? matches.front().index : -1;
        query(BoxAndTitleScript(index, local && matched),
              [this, local, matched, generation, document, done](std::optional<std::string> json) {
                if (generation != layout_generation_) return;
                RECT box{};
                Text title;
                std::optional<std::vector<Text>> values =
                    json ? ParseJsonArray(*json) : std::nullopt;
                if (values && values->size() == 5) {
                  const auto& v = *values;
                  box = RECT{PixelsOf(v[0]), PixelsOf(v[1]), PixelsOf(v[2]), PixelsOf(v[3])};
                  title = v[4];
                }
                FinishLayout(local, matched, box, title);
                laid_out_document_ = document;
                done();
              });
      });
}

void CBaseDHtmlDlg::FinishLayout(bool local, bool matched, const RECT& box, const Text& title) {
  m_rcContainer = matched ? box : kNoContainer;
  if (local)
    ResizeWindow(m_rcContainer.right - m_rcContainer.left,
                 m_rcContainer.bottom - m_rcContainer.top);
  m_strTitle = title;
  ApplyWindowRound(m_nRoundRadius, m_nRoundExtraWidth, m_nRoundExtraHeight);
  if (GetParent())
    CenterOnParent();
  else
    CenterOnScreen();
  SetWindowText(m_strTitle);
}

void CBaseDHtmlDlg::FindElementsBySelector(ElementSelector::Kind kind, const Text& name,
                                           const PageQuery& query,
                                           std::function<void(std::vector<HtmlElementRef>)> done) {
  ElementSelector selector{kind, name};
  query(ElementWalkScript(selector.KindCode()), [selector, done](std::optional<std::string> json) {
    std::optional<std::vector<Text>> attributes = json ? ParseJsonArray(*json) : std::nullopt;
    std::vector<HtmlElementRef> refs;
    if (attributes)
      for (size_t index : MatchElements(selector, *attributes))
        refs.push_back(HtmlElementRef{static_cast<int>(index)});
    done(std::move(refs));
  });
}

void CBaseDHtmlDlg::ApplyWindowRound(int32_t radius, int32_t extra_width, int32_t extra_height) {
  const RECT& c = m_rcContainer;
  SetWindowRgn(WindowRegion::RoundRect(c.left, c.top, c.right + extra_width,
                                       c.bottom + extra_height, radius, radius));
  m_nRoundRadius = radius;
  m_nRoundExtraWidth = extra_width;
  m_nRoundExtraHeight = extra_height;
}

HRESULT CBaseDHtmlDlg::RunPageScript(const Text& script) {
  if (!HasDocument()) return S_FALSE;
  EvaluateScript(script, [](JSCValue*) {});
  return S_OK;
}

void CBaseDHtmlDlg::MinWindow() {
  ShowWindow(SW_MINIMIZE);
}

void CBaseDHtmlDlg::MaxWindow() {
  ShowWindow(SW_MAXIMIZE);
}

int32_t CBaseDHtmlDlg::CloseWindow(int32_t code) {
  return DoCloseWindow(code);
}

void CBaseDHtmlDlg::Show(bool show) {
  ShowWindow(show ? SW_SHOWNORMAL : SW_HIDE);
}

void CBaseDHtmlDlg::Hide() {
  ShowWindow(SW_HIDE);
}

void CBaseDHtmlDlg::CenterOnParent() {
  auto* parent = dynamic_cast<CBaseDHtmlDlg*>(GetParent());
  if (!parent) {  // no parent page window: the desktop is the only thing to centre on
    CenterOnScreen();
    return;
  }
  WindowOrigin at =
      CenterOnParentOrigin(parent->GetWindowRect(), parent->m_rcContainer, m_rcContainer);
  MoveWindowTo(at.x, at.y);
}

void CBaseDHtmlDlg::CenterOnScreen() {
  WindowOrigin at = CenterOnScreenOrigin(GetDesktopRect(), m_rcContainer);
  MoveWindowTo(at.x, at.y);
}

void CBaseDHtmlDlg::Move(int32_t x, int32_t y) {
  MoveWindowTo(x, y);
}

void CBaseDHtmlDlg::SetSize(int32_t width, int32_t height) {
  ResizeWindow(width, height);
}

void CBaseDHtmlDlg::SetWindowRound(int32_t radius, int32_t extra_width, int32_t extra_height) {
  ApplyWindowRound(radius, extra_width, extra_height);
}

void CBaseDHtmlDlg::SetTransparent(int32_t alpha) {
  SetLayeredWindowAttributes(static_cast<BYTE>(alpha & 0xFF));
}

int32_t CBaseDHtmlDlg::NewInstance(bool modal, const Text& url, const Text& selector) {
  // A page from elsewhere than the local disk may open only pages from the web: a local page it
  // opened would have the host services (files, processes, pipes) it is denied itself.
  if (ScriptCallerIsRemote() && !IsWebPageUrl(ResolvePageUrl(url, PageBaseDirectory())))
    throw ScriptError(E_ACCESSDENIED, u"Access denied: a remote page opens only web pages");
  return DoNewInstance(modal, url, selector);
}

void CBaseDHtmlDlg::DrapAndDrop() {
  DoDragWindow();
}

int32_t CBaseDHtmlDlg::DoCloseWindow(int32_t code) {
  if (IsModal()) {
    EndDialog(code);
    return 0;
  }
  DestroyWindow();
  return code;
}

void CBaseDHtmlDlg::DoDragWindow() {
  SendMessageW(GetSafeHwnd(), WM_NCLBUTTONDOWN, HTCAPTION, 0);
}

int32_t CBaseDHtmlDlg::DoNewInstance(bool modal, const Text& url, const Text& selector) {
  return OpenInstance<CBaseDHtmlDlg>(modal, url, selector);
}

void CBaseDHtmlDlg::ShowModeless(CBaseDHtmlDlg* dialog, TopLevelWindow* owner) {
  dialog->auto_delete_ = true;
  if (!dialog->CreateModeless(owner)) return;  // PostNcDestroy already released it
  dialog->ShowWindow(SW_SHOW);
}

void CBaseDHtmlDlg::PostNcDestroy() {
  // A modeless window's object goes with its window; deleted once the call that closed it (a
  // script method of its own page, perhaps) has returned.
  if (auto_delete_) PostToUi([this] { delete this; });
}
