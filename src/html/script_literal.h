// Text placed inside a single- or double-quoted JavaScript string literal. Thread-safe: pure.
#pragma once

#include "base/text.h"

// `text` with every character that could end the literal, start an escape or break the line
// written as an escape, so the literal's value is `text` exactly and nothing after it runs.
[[nodiscard]] Text EscapeForScriptLiteral(TextView text);
