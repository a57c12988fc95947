// Asks the acceleration pipe "\\.\pipe\brelanPipe" (a SOCK_SEQPACKET socket in the user's
// private runtime directory) whether this process is to be accelerated. Never waits long: a
// pipe that is absent, belongs to another user or is not answering counts as "not
// accelerated"; an instance busy with another process is retried for a short while.
#pragma once

#include "lsp/acc_reply.h"

// Fills `reply`; false when the answer is 0 or none could be had.
[[nodiscard]] bool QueryAcceleration(AccReply& reply);
