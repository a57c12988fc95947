// Diagnostic lines: written to standard output as UTF-8 exactly as given (no line break added)
// and flushed, so they appear in order with the output of child processes. Thread-safe (stdio's
// own lock).
#pragma once

#include <string_view>

#include "base/text.h"

void PrintDiagnostic(std::string_view utf8);
void PrintDiagnostic(TextView text);
