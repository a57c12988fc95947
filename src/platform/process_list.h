// The running processes as /proc shows them: each with its executable's file name. Only a
// snapshot: a process may end, and its id be reused, right after. Thread-safe.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessEntry {
  pid_t pid = 0;
  // The bare file name of the program it runs (the `exe` link's last component, without the
  // kernel's " (deleted)" mark); where that link cannot be read (processes of other users,
  // kernel threads) the kernel's short command name (`comm`, at most 15 bytes) stands in.
  std::string exe_name;
};

// Every process we can see, in ascending id order; processes that end while we look are left out.
[[nodiscard]] std::vector<ProcessEntry> ListProcesses();
