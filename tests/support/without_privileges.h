// Runs a piece of a test in a child process that keeps its user id but none of root's
// capabilities, so that the file system checks permissions as it does for an ordinary user
// (the tests run as root, who may write anywhere). The child's result comes back as a bool.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

inline bool RunWithoutPrivileges(const std::function<bool()>& action) {
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) _exit(2);
    data[0].effective = data[1].effective = 0;
    if (syscall(SYS_capset, &header, data) != 0) _exit(2);
    _exit(action() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
