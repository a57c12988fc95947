#include "net/net_diagnostic.h"

#include <cstdio>

void WriteNetDiagnostic(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}
