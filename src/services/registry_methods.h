// The page's registry methods. `path` is a root name ("HKEY_CURRENT_USER", letter case ignored),
// a backslash or '/', and the subkey; an empty value name addresses the key's default value.
// Each call opens and closes its own key; reading a missing key creates it where allowed.
#pragma once

#include <cstdint>

#include "base/text.h"

// The value as text (any type, up to its first zero unit), or "" when it cannot be read: no
// known root, missing value, or more than 511 units.
[[nodiscard]] Text RegReadString(const Text& path, const Text& name);
// The value's 32 bits; 0 when it cannot be read (no known root, missing value, more than 4
// bytes).
[[nodiscard]] int32_t RegReadInt(const Text& path, const Text& name);
// Reversed result, which callers rely on: false when the value was written, true when not.
[[nodiscard]] bool RegWriteString(const Text& path, const Text& name, const Text& text);
[[nodiscard]] bool RegWriteInt(const Text& path, const Text& name, int32_t number);
