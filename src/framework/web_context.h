// The process's one browser context, shared by every page window. UI thread only.
#pragma once

typedef struct _WebKitWebContext WebKitWebContext;

[[nodiscard]] WebKitWebContext* SharedWebContext();

// The browser's own network access goes direct, whatever proxy the desktop settings name.
void SetBrowserProxyDirect();
