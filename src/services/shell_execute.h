// Script methods that start programs, documents and URLs (what is started how: shell_start.h).
// Both run on the calling window's thread; ShellExecuteAndWait blocks it until the program ends
// or its time runs out.
//
// ShellExecute's result, greater than 32 on success:
//   42  started (a program of ours, or the desktop's handler for a document, folder or URL)
//    2  file not found                   3  a directory on the way is missing
//    5  access denied                    8  out of memory, processes or descriptors
//   11  executable bit set but not a program format
//   27  a handler was found but could not be started
//   31  no handler for the document type or URL scheme
#pragma once

#include <cstdint>

#include "base/text.h"

// ShellExecuteAndWait's result when no process of ours was started to wait for: the file could
// not be started, the verb is not one we run, or a document or URL went to the desktop's
// handler. Never an exit code a process can report (0-255).
inline constexpr int32_t kShellNoProcess = -1;
// ShellExecuteAndWait's result when the time ran out and the process was ended.
inline constexpr int32_t kShellWaitTimedOut = 999;

// Starts `file` with `parameters`, with the text of `file` before its last '\' or '/' as the
// working directory (none: the current directory). `show` (a show-window code) is accepted and
// not applied: a program started here decides itself how it shows.
[[nodiscard]] int32_t ShellExecute(const Text& file, const Text& parameters, int32_t show);

// Starts `file` with `parameters` in the current directory and waits until it ends. `verb` is
// "open", "runas" (run as the user: nothing elevates here) or empty; another verb starts
// nothing. `timeout` is read as unsigned milliseconds, so -1 waits without limit. Returns the
// exit code; 128 + the signal number when a signal ended the process; kShellWaitTimedOut when
// the time ran out: the process is then sent SIGTERM, and SIGKILL when it has not ended 200 ms
// later; kShellNoProcess when nothing was started. No process is left behind unreaped.
[[nodiscard]] int32_t ShellExecuteAndWait(const Text& verb, const Text& file,
                                          const Text& parameters, int32_t show, int32_t timeout);
