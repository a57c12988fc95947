// The server role of the pipe transport. Callers name pipes by their full path
// ("\\.\pipe\brelanPipe") and never hold handles: the transport keeps one server instance per
// name in ServerPipeTable. Every operation blocks until done and answers true or false; an
// operation on a name never created answers false at once, prints nothing and leaves an output
// text unchanged. Other failures print their fixed diagnostic line.
//
// ServerPipeTable belongs to the calling thread: each thread that serves pipes keeps its own
// list. The system has one such thread, the acceleration server, which creates its entry and
// serves it; when a second main window starts a second server thread, each thread serves its own
// instance of the pipe and neither touches the other's entries.
#pragma once

#include <chrono>

#include "base/text.h"

// Creates a free instance of the pipe and records it under `name`. A name already listed gets
// the new instance; its previous instance is closed.
[[nodiscard]] bool ServerPipeCreate(const Text& name);
// Waits until a client connects to the instance.
[[nodiscard]] bool ServerPipeConnect(const Text& name);
// Reads one message of at most 2048 bytes (see pipe_message.h). Fails when the client has hung
// up, when the message is longer (the rest comes with the next read) or with no client.
[[nodiscard]] bool ServerPipeRead(const Text& name, Text& out);
// As ServerPipeRead, but also fails, with the same diagnostic line, when no message has come by
// `deadline` (at once when it has passed), so that a client that sends nothing cannot keep the
// instance for itself.
[[nodiscard]] bool ServerPipeRead(const Text& name, Text& out,
                                  std::chrono::steady_clock::time_point deadline);
// Writes `text` as one message and returns once the client has read it.
[[nodiscard]] bool ServerPipeWrite(const Text& name, const Text& text);
// As ServerPipeWrite, but returns as soon as the message is queued to the client: for a server
// that goes on to read the client's next message anyway, where waiting would only cost it a
// wake-up per message. Fails, printing the write diagnostic, when the client has not made room
// for the message within `timeout` (it sends requests without reading the replies).
[[nodiscard]] bool ServerPipeSend(const Text& name, const Text& text,
                                  std::chrono::milliseconds timeout);
// Ends the client's connection; the instance stays listed, free for the next client. False when
// no client was connected.
[[nodiscard]] bool ServerPipeDisconnect(const Text& name);
