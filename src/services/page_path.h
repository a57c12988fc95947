// Paths as page script passes them, turned into file-system paths: every '\' becomes '/', the
// text becomes UTF-8; nothing is expanded or made absolute (a relative path is relative to the
// current directory).
#pragma once

#include <string>

#include "base/text.h"

// Paths and search texts of this many units or more are refused, as the platform's file class
// and file search refuse them.
inline constexpr size_t kMaxPath = 260;

[[nodiscard]] std::string ToFileSystemPath(TextView path);

// The path with '/' for '\' and one trailing '/' removed ("a//" keeps one).
[[nodiscard]] Text NormalizeDirPath(TextView path);
