// Opening a document, folder or URL with the desktop's default handler for its type (GIO: the
// user's MIME associations and URI scheme handlers). The handler runs on its own; nothing waits
// for it, and it is never our child. Blocks for the lookup and the start only. Thread-safe.
#pragma once

#include <string>

#include "base/result.h"

// `uri` is a URI ("https://...", "mailto:...", "file:///home/me/a.txt"). Errors: EOPNOTSUPP when
// no handler is registered for the type or scheme, ENOENT when the file is missing, EIO when
// the handler was found but could not be started.
[[nodiscard]] Result<void> OpenWithDefaultHandler(const std::string& uri);

// The file:// URI of a local path (made absolute first).
[[nodiscard]] std::string FileUri(const std::string& path);
