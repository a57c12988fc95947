#include "pipe/pipe_diagnostic.h"

#include <cstdio>

void PrintDiagnostic(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

void PrintDiagnostic(TextView text) {
  PrintDiagnostic(ToUtf8(text));
}
