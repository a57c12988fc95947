// The user's private runtime directory for sockets and lock files: `$XDG_RUNTIME_DIR/morvil`, or
// `/tmp/morvil-<uid>` where XDG_RUNTIME_DIR is unset or not absolute. Created on demand with mode
// 0700; an existing directory is accepted only when it is a real directory (not a symbolic link)
// owned by the calling user, and is narrowed to 0700 when its mode is wider. Another user can
// therefore neither place nor replace anything inside it. Reads the environment on every call.
// Thread-safe.
#pragma once

#include <filesystem>

#include "base/result.h"

[[nodiscard]] Result<std::filesystem::path> RuntimeDirectory();

// `parent/name` made and checked by the same rules; `parent` must already be trusted.
[[nodiscard]] Result<std::filesystem::path> PrivateSubdirectory(const std::filesystem::path& parent,
                                                                const char* name);
