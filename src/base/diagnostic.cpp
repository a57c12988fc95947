#include "base/diagnostic.h"

#include <cstdio>

void PrintDiagnostic(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

void PrintDiagnostic(TextView text) {
  PrintDiagnostic(ToUtf8(text));
}
