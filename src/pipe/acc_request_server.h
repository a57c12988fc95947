// The acceleration request server. The network-stack component asks, per process, whether that
// process is to be accelerated and through which proxy; the server answers on the pipe
// AccPipeName from the settings page script put in the pair store:
//
//   request  "RequestAcc,<anything>,<full path of the process's executable>[,<ignored>...]"
//   reply    "%d,%s,%s,%s": 1 when the executable's file name is listed in "acc.processes"
//            (comma-separated, compared with A-Z folded to a-z, blanks kept), else 0; then the
//            values of "acc.proxy_server", "acc.proxy_port" and "acc.proxy_token" as stored.
//
// Any other message (another keyword, another letter case, an empty message) gets no reply. The
// store is read at each request, so a change applies to the next one. A request with fewer than
// three fields names no executable and is answered with 0 and the proxy data.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/text.h"
#include "services/pair_store.h"

// "\\.\pipe\brelanPipe".
extern const Text AccPipeName;

// The text after the last path separator ('\' or '/'); empty when the path has none or ends
// with one, so a bare file name never matches.
[[nodiscard]] Text ProcessFileNameFromPath(const Text& path);

// Whether `fileName` is listed in "acc.processes" of the process-wide pair store.
[[nodiscard]] bool IsAcceleratedProcess(const Text& fileName);
[[nodiscard]] bool IsAcceleratedProcess(const Text& fileName, const PairStore& store);

// The reply to one message, or nothing when the message is not a request.
[[nodiscard]] std::optional<Text> AnswerAccMessage(const Text& message, const PairStore& store);

// Worker thread procedure: serves AccPipeName for the life of the process, one client at a
// time, printing its diagnostic lines. A client that has not sent a whole request within a short
// time of connecting or of its last reply is disconnected, as is one that does not take its
// replies, so that no client keeps the pipe from the others. `window` is the main window that
// started it; unused.
[[noreturn]] uint32_t AccRequestServerThread(void* window);

// Starts AccRequestServerThread on a detached thread of its own; the main window's constructor
// calls it. False when no thread could be started.
[[nodiscard]] bool StartAccRequestServer(void* window);
