// The user's private runtime directory for morvil: `$XDG_RUNTIME_DIR/morvil`, or where that is
// unset, `/tmp/morvil-<uid>`. Created with mode 0700; refused unless the user owns it and nobody
// else may enter it, so other users can neither read nor plant files there.
#pragma once

#include <filesystem>

#include "base/result.h"

[[nodiscard]] Result<std::filesystem::path> RuntimeDirectory();
