// The platform's private profile functions over IniDocument: one value read or written in an
// INI file named by a '/'-separated UTF-8 path. Files are 8-bit text in the locale's code page.
// A write is a locked read-modify-write that replaces the file whole (FileReplacement), so
// concurrent writers in other processes never lose each other's keys and a crash never leaves
// half a file. Blocking local I/O; thread-safe.
#pragma once

#include <string>

#include "base/result.h"
#include "base/text.h"

// The value of `key` in `section`, cut to `capacity` - 1 units as a buffer of `capacity` units
// with its terminating zero holds it; `fallback` when the file, section or key is missing.
[[nodiscard]] Text ReadProfileString(const std::string& file, TextView section, TextView key,
                                     TextView fallback, size_t capacity);

// Creates or changes the key (and the file and section when missing).
[[nodiscard]] Result<void> WriteProfileString(const std::string& file, TextView section,
                                              TextView key, TextView value);
