// Path helpers shared by the whole program. Paths use '/'; every backslash a caller passes is
// turned into '/' first, so page script written with "\\" joins works unchanged. Pure text
// operations except GetAppDirectory, which asks the kernel for the executable's path.
#pragma once

#include "base/text.h"

// Every backslash becomes '/'.
[[nodiscard]] Text ToForwardSlashes(TextView path);

// Backslashes become '/', trailing '/' are dropped, and the text before the last '/' is the
// result (empty when there is none): "/a/b", "/a/b/" and "\a\b" give "/a"; "/a" gives "".
[[nodiscard]] Text GetParentPath(TextView path);

// The directory that holds the running executable, without a trailing '/'.
[[nodiscard]] Text GetAppDirectory();
