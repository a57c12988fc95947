// Asks the acceleration pipe "\\.\pipe\brelanPipe" (a SOCK_SEQPACKET socket in the user's
// private runtime directory) whether this process is to be accelerated. Never waits long: a
// pipe that is absent, belongs to another user or is not answering counts as "not
// accelerated"; an instance busy with another process is retried for a short while, and a
// connection that the server ended unanswered is tried once more.
#pragma once

#include "lsp/acc_reply.h"

#include <cstddef>
#include <cstdint>
#include <span>

enum class AskResult {
  kAnswered,
  kNoPipe,   // no pipe to be had: absent, not ours, or not a pipe
  kBusy,     // refused for longer than the busy retry
  kNoReply,  // connected, but the request could not be sent or no reply came in time
};

// One request on a connection of its own, exactly as the library asks: the reply's bytes go to
// `answer` and their count to `answer_size`. Used by the library and by tools that load the pipe
// as many programs would.
[[nodiscard]] AskResult AskAccPipe(std::span<const uint8_t> request, std::span<uint8_t> answer,
                                   size_t& answer_size);

// Fills `reply`; false when the answer is 0 or none could be had.
[[nodiscard]] bool QueryAcceleration(AccReply& reply);
