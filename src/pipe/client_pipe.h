// The client role of the pipe transport: opens pipes that other components serve and exchanges
// text messages with them. Pipes are named by their full path ("\\.\pipe\NAME"); the transport
// keeps the open connections in ClientPipeTable, one process-wide list used by the window thread
// (page script and the service bootstrap). Every operation blocks until done and answers true or
// false; an operation on a name never opened answers false at once, prints nothing and leaves an
// output text unchanged. Other failures print their fixed diagnostic line.
#pragma once

#include "base/text.h"

// Connects to a free instance of the pipe and records the connection under `name`. Never waits:
// a pipe that nobody serves or whose instances are all busy fails at once. A name already listed
// gets the new connection; its previous connection is closed. A failed open records nothing.
[[nodiscard]] bool ClientPipeOpen(const Text& name);
// Reads one message of at most 2048 bytes (see pipe_message.h); waits until the peer writes.
[[nodiscard]] bool ClientPipeRead(const Text& name, Text& out);
// Writes `text` as one message and returns once the peer has read it.
[[nodiscard]] bool ClientPipeWrite(const Text& name, const Text& text);
// Closes the connection; the entry stays listed, closed, until a later ClientPipeOpen of the
// name. False when it was already closed.
[[nodiscard]] bool ClientPipeClose(const Text& name);
