// Splits text at a separator character. Empty fields between separators are kept; one trailing
// empty field is not: "a,,b" -> {a, "", b}; "a,b," -> {a, b}; ",a" -> {"", a}; "," -> {""};
// "" -> {}.
#pragma once

#include <vector>

#include "base/text.h"

[[nodiscard]] std::vector<Text> SplitText(TextView text, char16_t separator);
