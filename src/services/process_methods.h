// Script methods that find running processes by their executable's name and end them.
//
// A process handle is a positive number that names an entry of one process-wide table; the
// entry holds a pidfd, so a handle never reaches a later process that reuses the id. Handles
// are never reused while the program runs. Finding the same running process again gives the
// same handle, and entries of processes that have ended are dropped when the next search runs,
// so page script that searches over and over does not use up descriptors. Thread-safe.
#pragma once

#include <cstdint>

#include "base/text.h"

// The handle of the first process (lowest id) whose executable's file name equals `name`,
// letter case ignored (CompareNoCase); 0 when none does, or when that process may not be ended
// by us (another user's). A name with a directory in front matches nothing.
[[nodiscard]] int32_t FindProcessByExecFileName(const Text& name);

// Ends the process with SIGKILL. TRUE when the signal was sent; FALSE for 0, an unknown handle
// or a process that has already ended. The handle stays valid (and further calls answer FALSE
// once the process has gone).
[[nodiscard]] bool CloseProcessByHandle(int32_t handle);
