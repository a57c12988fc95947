#include "lsp/failure_report.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "lsp/real_calls.h"

namespace {
std::atomic<bool> g_reported{false};
}

void ReportProxyFailure(const ProxyConfig& proxy, const char* what, int error) {
  if (g_reported.exchange(true)) return;
  char reason[128];
  const char* text = strerror_r(error, reason, sizeof reason);
  char line[512];
  int n = std::snprintf(line, sizeof line, "morvil: proxy server %s port %u: %s: %s\n",
                        proxy.server, proxy.port, what, text);
  if (n > 0) (void)!__write(2, line, static_cast<size_t>(n) < sizeof line ? n : sizeof line - 1);
}
