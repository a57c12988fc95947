// How the HTTP transfers turn the page's texts into bytes and answers back into texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

// GetStringFromUrl reads at most this many bytes of an answer.
inline constexpr size_t kStringAnswerLimit = 8000;

// The page's header text as header lines: split at line breaks, empty lines dropped.
[[nodiscard]] std::vector<std::string> HeaderLines(TextView headers);

// Decodes the first bytes of an answer as UTF-8. Bytes from the first zero byte on are dropped.
// When `cut` says the answer went on beyond these bytes, a character split by the cut is dropped
// rather than shown as a replacement character; other invalid bytes become U+FFFD.
[[nodiscard]] Text DecodeUtf8Answer(std::string_view bytes, bool cut);

// The body PostDataToUrl sends: the first `length` bytes of the data's UTF-16LE form (two bytes a
// character, low byte first), at most all of them.
[[nodiscard]] std::string Utf16LeBody(TextView data, size_t length);

// The first line of an answer read as UTF-16LE. `bytes` runs up to and including the first LF
// byte (or to the end). CR bytes are dropped, the rest taken in pairs as code units (an odd last
// byte pairs with zero), a zero unit ends the text, and a final LF unit is dropped.
[[nodiscard]] Text DecodeUtf16LeFirstLine(std::string_view bytes);
