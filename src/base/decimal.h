// Decimal numbers read from the start of a text the way the C run-time's _wtoi reads them.
// Thread-safe: pure.
#pragma once

#include <cstdint>

#include "base/text.h"

// Skips leading blanks (space, tab, line breaks, vertical tab, form feed), takes one optional
// sign and then the decimal digits that follow; reading stops at the first other character.
// No digits gives 0. A value beyond the 32-bit range saturates at INT32_MAX / INT32_MIN.
[[nodiscard]] int32_t WToI(TextView text);
