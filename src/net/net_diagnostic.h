// Diagnostic lines of the network services: written to standard output as UTF-8, exactly as
// given (no line break added). Thread-safe (stdio's own lock).
#pragma once

#include <string_view>

void WriteNetDiagnostic(std::string_view utf8);
