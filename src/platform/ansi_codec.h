// Conversions between Text and the 8-bit "ANSI" code page (the locale's codeset; UTF-8 where the
// locale names plain ASCII), with the forgiving rules of the platform's own code page conversion:
// bytes that form no character are decoded as U+FFFD, and characters the code page lacks are
// encoded as '?'. base/text.h offers the strict forms. Thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"

// Every byte sequence decodes; each byte that starts no valid character becomes U+FFFD.
[[nodiscard]] Text DecodeAnsi(std::string_view bytes);

// Characters missing from the code page become '?'. Only a text that is not well-formed UTF-16
// (a lone surrogate) cannot be encoded at all: nullopt.
[[nodiscard]] std::optional<std::string> EncodeAnsi(TextView text);

// True when the text holds a surrogate unit that is not part of a pair.
[[nodiscard]] bool HasLoneSurrogate(TextView text);
