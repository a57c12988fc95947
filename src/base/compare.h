// Locale-aware comparison of two texts, letter case ignored, over the whole texts.
#pragma once

#include "base/text.h"

// -1, 0 or 1 as `a` sorts before, equal to or after `b` in the user's locale with letter case
// ignored. Callers test for 0.
[[nodiscard]] int CompareNoCase(TextView a, TextView b);

// Equality with only the letters A-Z folded: locale-independent, for names and keywords.
[[nodiscard]] bool EqualsIgnoringAsciiCase(TextView a, TextView b);
