// Text as the system defines it: UTF-16 code units. Conversions happen only at the boundaries
// (GTK, WebKit, file names, libcurl, stdout). Thread-safe: every function is pure.
#pragma once

#include <string>
#include <string_view>

using Text = std::u16string;
using TextView = std::u16string_view;

// UTF-16 -> UTF-8. A lone surrogate becomes U+FFFD.
[[nodiscard]] std::string ToUtf8(TextView text);
// UTF-8 -> UTF-16. An invalid byte sequence becomes U+FFFD for each offending byte.
[[nodiscard]] Text FromUtf8(std::string_view utf8);

// The 8-bit "ANSI" code page is the locale's codeset; plain ASCII locales use UTF-8 in its place.
// Both return false (and leave `out` untouched) when a character has no form in the other set.
[[nodiscard]] bool ToAnsi(TextView text, std::string& out);
[[nodiscard]] bool FromAnsi(std::string_view ansi, Text& out);
// The codeset the two functions above use, e.g. "UTF-8" or "ISO-8859-1".
[[nodiscard]] std::string AnsiCodeset();

// Decimal forms, as the platform's wide formatted print writes %d and %u.
[[nodiscard]] Text ToText(long long value);
[[nodiscard]] Text ToText(std::string_view ascii);
