// The client side of a named pipe (see pipe_name.h).
#pragma once

#include <memory>

#include "base/result.h"
#include "base/text.h"
#include "platform/pipe_connection.h"

// Connects to a free instance of the pipe `name` (`\\.\pipe\NAME`). Looks in the user's private
// directory first, where the pipe must be served by the calling user; when nobody serves it
// there, in the system directory, where it must be served by root from a directory that only
// root can change. Never waits: ENOENT when nobody serves the name, EBUSY when every instance is
// busy, EACCES when the server runs as another user. Thread-safe.
[[nodiscard]] Result<std::unique_ptr<PipeConnection>> OpenPipe(TextView name);

// The same in the system directory only, whoever serves the name in the user's. Thread-safe.
[[nodiscard]] Result<std::unique_ptr<PipeConnection>> OpenSystemPipe(TextView name);
