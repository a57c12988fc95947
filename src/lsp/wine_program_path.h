// The program path a process is asked about on the acceleration pipe. For most processes that is
// the path of their executable. A Windows program run by Wine has a Wine loader as its executable
// (wine, wine64, wine-preloader, wine64-preloader), and only its command line names the program:
//
//   just started       /usr/lib/wine/wine64 game.exe ARGS...       (a preloader may come first)
//   once Wine is up    game.exe ARGS...  or  C:\Games\game.exe ARGS...  or  /home/u/game.exe ...
//
// so for a loader the path to ask with is the first command-line argument that is not itself a
// loader. A bare name gets ".\" in front so that its file name can be told from a path (the
// server ignores a name without a separator), and ".exe" when it has no extension, as Wine
// itself adds. Uses the C library only; no allocation; thread-safe. Shared by the preloaded
// library and the kernel-mode component, which reads another process's /proc/PID/cmdline.
#pragma once

#include <cstddef>

// Whether the file name of `exe_path` is one of Wine's loaders.
[[nodiscard]] bool IsWineLoader(const char* exe_path);

// Writes the path to ask about into `out` (NUL-terminated) and returns its length; 0 when
// `out_size` is too small. `cmdline` holds `cmdline_size` bytes of arguments, each ended by a NUL
// (a last one without its NUL is accepted), as /proc/PID/cmdline has them. When `exe_path` is a
// Wine loader but the command line names no program (it is empty, holds only loaders, or the
// first argument is an option such as "--version"), the answer is `exe_path` itself.
[[nodiscard]] size_t ProgramPathToAsk(const char* exe_path, const char* cmdline,
                                      size_t cmdline_size, char* out, size_t out_size);
