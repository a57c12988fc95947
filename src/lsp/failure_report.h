// Tells the user once per process, on standard error, that the proxy could not be used.
#pragma once

#include "lsp/proxy_config.h"

void ReportProxyFailure(const ProxyConfig& proxy, const char* what, int error);
