// The process's one browser context, shared by every page window. UI thread only.
#pragma once

typedef struct _WebKitWebContext WebKitWebContext;

[[nodiscard]] WebKitWebContext* SharedWebContext();

// Starts the browser's network process now, so that it is up when the first page loads.
void StartBrowserProcesses();

// The browser's own network access goes direct, whatever proxy the desktop settings name.
void SetBrowserProxyDirect();
