// Script methods through which page script talks to any component over named pipes, by the
// pipe's full name ("\\.\pipe\NAME"). Thin forms of the client transport (client_pipe.h): its
// connection table and diagnostics apply. They block the calling window's thread.
#pragma once

#include "base/text.h"

[[nodiscard]] bool PipeClientConnect(const Text& name);
[[nodiscard]] bool PipeClientDisconnect(const Text& name);
// Writes `text` as one message; false on a name never connected.
[[nodiscard]] bool PipeClientWrite(const Text& name, const Text& text);
// The next message, or the empty text when the read fails or the name was never connected.
[[nodiscard]] Text PipeClientRead(const Text& name);
