// A dialog that hosts one page in WebKitGTK: it navigates to its current URL when initialised,
// reports document completion for the top-level page and for every inner frame, shows no context
// menu and, when silent, no script dialog. Script runs in the page asynchronously; results come
// back on the UI thread, and never to a window that is gone. UI thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "framework/bridge_protocol.h"
#include "framework/dialog.h"
#include "framework/dispatch.h"

typedef struct _WebKitWebView WebKitWebView;
typedef struct _JSCValue JSCValue;

class HtmlDialog : public Dialog {
 public:
  explicit HtmlDialog(TopLevelWindow* parent) : Dialog(parent) {}
  ~HtmlDialog() override;

  // The script methods page script reaches as window.external; none by default.
  virtual const DispatchTable* GetDispatchTable() const { return nullptr; }
  // The page dialog that shows the page with this browser page id, or nullptr.
  [[nodiscard]] static HtmlDialog* FromPageId(uint64_t page_id);
  // Serves one call of page script; returns the encoded reply.
  [[nodiscard]] std::string HandleScriptCall(const BridgeRequest& request);

  BOOL OnInitDialog() override;

  void SetCurrentUrl(const Text& url) { current_url_ = url; }
  [[nodiscard]] const Text& GetCurrentUrl() const { return current_url_; }
  void Navigate(const Text& url);
  void SetSilent(bool silent) { silent_ = silent; }
  [[nodiscard]] bool HasDocument() const { return has_document_; }
  [[nodiscard]] WebKitWebView* web_view() const { return web_view_; }

  // Runs `script` in the page's main frame; `done` receives the value of its last expression,
  // or nullptr when it failed, no document is loaded or the window went away meanwhile.
  using ScriptResult = std::function<void(JSCValue*)>;
  void EvaluateScript(const Text& script, ScriptResult done);
  // The same with the value as JSON text, nullopt when the script failed or gave no JSON value.
  using JsonResult = std::function<void(std::optional<std::string>)>;
  void EvaluateScriptAsJson(const Text& script, JsonResult done);
  // While the page waits in a call of its own (only then), runs `script` in its main frame
  // synchronously and returns the value as JSON; nullopt when it cannot.
  [[nodiscard]] std::optional<std::string> QueryPageInCall(const Text& script) const;
  // Counts the documents committed in this window; a new one begins at each navigation.
  [[nodiscard]] unsigned DocumentSerial() const { return document_serial_; }
  // The URL of the document now in the window (the top-level page).
  [[nodiscard]] Text CommittedUrl() const;
  // Script evaluations started and not yet finished, over all page windows.
  [[nodiscard]] static int PendingScripts();

  // Called for the top-level document with the page's URL (after the current URL was updated)
  // and for each inner frame with that frame's URL.
  virtual void OnDocumentComplete(const Text& url) {}
  // Runs before each call of page script is served, on the UI thread.
  virtual void BeforeScriptCall() {}
  // S_OK: the host handled it, no menu appears.
  virtual HRESULT ShowContextMenu() { return S_FALSE; }

 private:
  friend struct HtmlDialogSignals;
  WebKitWebView* web_view_ = nullptr;  // owned by the window's widget tree
  uint64_t page_id_ = 0;
  Text current_url_;
  bool silent_ = false;
  bool has_document_ = false;
  unsigned document_serial_ = 0;
};
