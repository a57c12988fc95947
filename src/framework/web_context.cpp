#include "framework/web_context.h"

#include <webkit2/webkit2.h>

#include "framework/script_bridge.h"

WebKitWebContext* SharedWebContext() {
  static WebKitWebContext* context = [] {
    WebKitWebsiteDataManager* data = webkit_website_data_manager_new_ephemeral();
    WebKitWebContext* ctx = webkit_web_context_new_with_website_data_manager(data);
    g_object_unref(data);
    webkit_web_context_set_cache_model(ctx, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    // Pages run in WebKit's sandbox: a web process sees only what it needs (the bridge's socket
    // directory is added by the bridge), never the user's files or the session bus, so a page
    // that breaks out of its script engine still holds nothing of the user's.
    webkit_web_context_set_sandbox_enabled(ctx, TRUE);
    // Each page window gets its own web process (WebKit's only model now), so a page blocked in
    // a call never holds another.
    AttachScriptBridge(ctx);
    return ctx;
  }();
  return context;
}

void StartBrowserProcesses() {
  // Any request to the network process starts it; the answer is of no interest.
  webkit_website_data_manager_fetch(
      webkit_web_context_get_website_data_manager(SharedWebContext()), WEBKIT_WEBSITE_DATA_COOKIES,
      nullptr,
      [](GObject* manager, GAsyncResult* result, gpointer) {
        GList* data = webkit_website_data_manager_fetch_finish(WEBKIT_WEBSITE_DATA_MANAGER(manager),
                                                               result, nullptr);
        g_list_free_full(data, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref));
      },
      nullptr);
}

void SetBrowserProxyDirect() {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  webkit_website_data_manager_set_network_proxy_settings(
      webkit_web_context_get_website_data_manager(SharedWebContext()),
      WEBKIT_NETWORK_PROXY_MODE_NO_PROXY, nullptr);
  G_GNUC_END_IGNORE_DEPRECATIONS
}
