// Where a pipe named `\\.\pipe\NAME` lives: a socket file in the user's private directory
// `RuntimeDirectory()/pipe/`. Pipe names are case-insensitive, so NAME is folded to lower case
// (Unicode simple folding): `\\.\pipe\BrelanPipe` and `\\.\pipe\brelanpipe` are one pipe.
// The prefix may be written with '/' for '\' and in any case. Bytes that cannot stand in a file
// name ('/', '%', '#', control characters, a leading '.') are written as %XX; a name too long
// for a socket address is replaced by '#' and its SHA-256 in hex. Thread-safe.
//
// Pipes that every local user may open (a system service's) live in the system directory
// instead: `SystemDirectory()/pipe/`, root-owned, under the same file names.
#pragma once

#include <filesystem>
#include <string>

#include "base/result.h"
#include "base/text.h"

// The file name inside the pipe directory; EINVAL when `pipe_name` lacks the prefix or NAME is
// empty.
[[nodiscard]] Result<std::string> PipeFileName(TextView pipe_name);

// The full socket path (creating the private directories on the way); ENAMETOOLONG when even
// the hashed form does not fit a socket address.
[[nodiscard]] Result<std::filesystem::path> PipeSocketPath(TextView pipe_name);

// The system directory: `$MORVIL_SYSTEM_DIR` when it is absolute, otherwise `/run/morvil`.
// Read from the environment on every call.
[[nodiscard]] std::filesystem::path SystemDirectory();

// The socket path of `pipe_name` in `SystemDirectory()/pipe/`; creates and checks nothing.
[[nodiscard]] Result<std::filesystem::path> SystemPipeSocketPath(TextView pipe_name);
