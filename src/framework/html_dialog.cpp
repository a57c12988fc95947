#include "framework/html_dialog.h"

#include <webkit2/webkit2.h>

#include <memory>

#include <map>

#include "base/percent_encoding.h"
#include "framework/script_bridge.h"
#include "framework/web_context.h"
#include "framework/window_registry.h"

namespace {

// Reports each inner frame's load, which WebKit does not tell the host on its own.
constexpr char kFrameLoadScript[] = R"JS(
if (window !== window.top) {
  window.addEventListener('load', function () {
    try { window.webkit.messageHandlers.morvilFrameLoad.postMessage(String(location.href)); }
    catch (e) {}
  });
}
)JS";

// Page id -> window handle of the dialog showing that page. UI thread only.
std::map<uint64_t, HWND>& PageWindows() {
  static std::map<uint64_t, HWND> pages;
  return pages;
}

int g_pending_scripts = 0;

bool IsLocalDocument(const Text& url) {
  return url.rfind(u"file:///", 0) == 0;
}

HtmlDialog* Lookup(gpointer data) {
  return dynamic_cast<HtmlDialog*>(FindOwnWindow(GPOINTER_TO_UINT(data)));
}

// WebKit wants a proper URI; a local path may hold blanks or non-ASCII characters.
std::string ToUri(const Text& url) {
  std::string utf8 = ToUtf8(url);
  if (utf8.rfind("file://", 0) != 0) return utf8;
  return PercentEncode(utf8, [](unsigned char c, bool) { return c <= 0x20 || c >= 0x7F; });
}

}  // namespace

struct HtmlDialogSignals {
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    HtmlDialog* dialog = Lookup(data);
    if (!dialog) return;
    if (event == WEBKIT_LOAD_COMMITTED) {
      dialog->has_document_ = true;
      ++dialog->document_serial_;
    }
    if (event != WEBKIT_LOAD_FINISHED) return;
    const char* uri = webkit_web_view_get_uri(view);
    Text url = uri ? FromUtf8(uri) : Text();
    dialog->current_url_ = url;
    dialog->OnDocumentComplete(url);
  }
  static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*,
                                gpointer data) {
    HtmlDialog* dialog = Lookup(data);
    return dialog && dialog->ShowContextMenu() == S_OK;
  }
  static gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer data) {
    HtmlDialog* dialog = Lookup(data);
    return dialog && dialog->silent_;  // handled: nothing is shown, the page gets the default
  }
  static void OnFrameLoad(WebKitUserContentManager*, WebKitJavascriptResult* result,
                          gpointer data) {
    HtmlDialog* dialog = Lookup(data);
    if (!dialog) return;
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    char* href = jsc_value_to_string(value);
    Text url = FromUtf8(href ? href : "");
    g_free(href);
    dialog->OnDocumentComplete(url);
  }
};

BOOL HtmlDialog::OnInitDialog() {
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  WebKitUserScript* frame_script =
      webkit_user_script_new(kFrameLoadScript, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                             WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
  webkit_user_content_manager_add_script(content, frame_script);
  webkit_user_script_unref(frame_script);
  webkit_user_content_manager_register_script_message_handler(content, "morvilFrameLoad");

  web_view_ = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SharedWebContext(),
                                           "user-content-manager", content, nullptr));
  g_object_unref(content);
  gpointer handle = GUINT_TO_POINTER(GetSafeHwnd());
  g_signal_connect(content, "script-message-received::morvilFrameLoad",
                   G_CALLBACK(HtmlDialogSignals::OnFrameLoad), handle);
  g_signal_connect(web_view_, "load-changed", G_CALLBACK(HtmlDialogSignals::OnLoadChanged), handle);
  g_signal_connect(web_view_, "context-menu", G_CALLBACK(HtmlDialogSignals::OnContextMenu), handle);
  g_signal_connect(web_view_, "script-dialog", G_CALLBACK(HtmlDialogSignals::OnScriptDialog),
                   handle);
  page_id_ = webkit_web_view_get_page_id(web_view_);
  PageWindows()[page_id_] = GetSafeHwnd();
  SetContent(GTK_WIDGET(web_view_));
  Navigate(current_url_);
  return TRUE;
}

HtmlDialog::~HtmlDialog() {
  if (page_id_) PageWindows().erase(page_id_);
}

HtmlDialog* HtmlDialog::FromPageId(uint64_t page_id) {
  auto it = PageWindows().find(page_id);
  return it == PageWindows().end() ? nullptr : dynamic_cast<HtmlDialog*>(FindOwnWindow(it->second));
}

std::string HtmlDialog::HandleScriptCall(const BridgeRequest& request) {
  BeforeScriptCall();
  const DispatchTable* table = GetDispatchTable();
  DISPID id = 0;
  if (!table || GetIDsOfNames(table, request.method, id) != S_OK)
    return EncodeBridgeError(DISP_E_UNKNOWNNAME, u"Unknown name: " + request.method);
  // Only pages from the local disk reach the host services.
  InvokeResult result = Invoke(table, *this, id, request.args, !IsLocalDocument(request.frame_url));
  if (result.status < 0) {
    Text message = result.description;
    if (message.empty()) message = u"Call of " + request.method + u" failed";
    return EncodeBridgeError(result.status, message);
  }
  return EncodeBridgeReply(result.value);
}

int HtmlDialog::PendingScripts() {
  return g_pending_scripts;
}

void HtmlDialog::Navigate(const Text& url) {
  if (web_view_) webkit_web_view_load_uri(web_view_, ToUri(url).c_str());
}

void HtmlDialog::EvaluateScriptAsJson(const Text& script, JsonResult done) {
  EvaluateScript(script, [done = std::move(done)](JSCValue* value) {
    char* json = value ? jsc_value_to_json(value, 0) : nullptr;
    std::optional<std::string> out;
    if (json) out = json;
    g_free(json);
    done(std::move(out));
  });
}

std::optional<std::string> HtmlDialog::QueryPageInCall(const Text& script) const {
  std::optional<std::string> json = ::QueryPageInCall(page_id_, ToUtf8(script));
  if (json && json->empty()) return std::nullopt;
  return json;
}

Text HtmlDialog::CommittedUrl() const {
  const char* uri = web_view_ ? webkit_web_view_get_uri(web_view_) : nullptr;
  return uri ? FromUtf8(uri) : Text();
}

void HtmlDialog::EvaluateScript(const Text& script, ScriptResult done) {
  if (!web_view_ || !has_document_) {
    done(nullptr);
    return;
  }
  struct Call {
    HWND hwnd;
    ScriptResult done;
  };
  std::string utf8 = ToUtf8(script);
  ++g_pending_scripts;
  webkit_web_view_evaluate_javascript(
      web_view_, utf8.data(), static_cast<gssize>(utf8.size()), nullptr, nullptr, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<Call> call(static_cast<Call*>(data));
        --g_pending_scripts;
        GError* error = nullptr;
        JSCValue* value =
            webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
        if (error) g_error_free(error);
        if (FindOwnWindow(call->hwnd)) call->done(value);
        if (value) g_object_unref(value);
      },
      new Call{GetSafeHwnd(), std::move(done)});
}
