// Starting what page script names: a program, a document, a folder or a URL. Shared by the two
// shell script methods. Backslashes in the file name are read as '/'.
//
//   file names                               started with
//   an executable regular file               posix_spawn, the parameters split by the quoting
//                                            rules of argument_quoting.h; show is not applied
//   a bare name (no '/') that is not a file  the first executable of that name on PATH
//     in the current directory
//   another existing file, or a folder       the desktop's default handler (no process of ours)
//   a URL ("scheme:...", scheme of 2+ chars) the desktop's default handler
//
// Thread-safe; blocks only while the program or handler is being started.
#pragma once

#include <optional>

#include "base/text.h"
#include "platform/process_handle.h"

// Result codes in the shell's convention: greater than 32 is success.
inline constexpr int kShellStarted = 42;
inline constexpr int kShellFileNotFound = 2;      // the file (or program on PATH) does not exist
inline constexpr int kShellPathNotFound = 3;      // a directory on the way is missing
inline constexpr int kShellAccessDenied = 5;      // no permission to run or open it
inline constexpr int kShellOutOfMemory = 8;       // no memory, processes or descriptors left
inline constexpr int kShellBadFormat = 11;        // executable bit set, but no program format
inline constexpr int kShellNoAssociation = 31;    // no handler for the document type or scheme
inline constexpr int kShellAssocIncomplete = 27;  // a handler was found but could not start

struct ShellStart {
  int code = kShellFileNotFound;
  // The started program when one of ours was spawned; the caller must reap it.
  std::optional<ProcessHandle> process;
};

// `working_directory` empty: the child keeps the current directory.
[[nodiscard]] ShellStart StartShellTarget(TextView file, TextView parameters,
                                          const Text& working_directory);
