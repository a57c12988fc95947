// What the component reads about other processes from /proc. Every value comes from a process
// that may be hostile or gone: each read is bounded and may fail. Thread-safe.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ProcessOwner {
  uid_t real = 0, effective = 0;
};

// The real and effective user ids, from /proc/PID/status.
[[nodiscard]] std::optional<ProcessOwner> OwnerOf(pid_t pid);
// The start time in clock ticks after boot (field 22 of /proc/PID/stat): with the pid, it tells
// a process from a later one that got the same pid.
[[nodiscard]] std::optional<uint64_t> StartTimeOf(pid_t pid);
// The executable's path ("" when unreadable, e.g. a kernel thread).
[[nodiscard]] std::string ExecutableOf(pid_t pid);
// /proc/PID/cmdline as read (NUL-separated), at most 64 KiB.
[[nodiscard]] std::string CommandLineOf(pid_t pid);
// The value of `name` in the process's environment as it started.
[[nodiscard]] std::optional<std::string> EnvironmentOf(pid_t pid, const std::string& name);
// The working directory ("" when unreadable).
[[nodiscard]] std::string WorkingDirectoryOf(pid_t pid);
// Every process id in /proc.
[[nodiscard]] std::vector<pid_t> AllProcesses();

// The path asked about on the acceleration pipe: the executable's, or for a Windows program run
// by Wine its Windows program's path from the command line. "" when the process is gone.
[[nodiscard]] std::string ProgramPathOf(pid_t pid);

// For a process run by Wine: the base name of its prefix's wineserver working directory,
// "server-<device>-<inode>" in hexadecimal, from WINEPREFIX (or $HOME/.wine) in its
// environment. nullopt for other processes or when the prefix cannot be found.
[[nodiscard]] std::optional<std::string> WineServerDirectoryOf(pid_t pid);
// Whether `pid` is a wineserver (its executable's file name starts with "wineserver").
[[nodiscard]] bool IsWineServer(pid_t pid);
