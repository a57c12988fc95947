// Runs a piece of a test in a child process inside a private network namespace whose loopback
// is up. Settings of that namespace (net.ipv4.ping_group_range, icmp_echo_ignore_all, ...) can
// be changed there without touching the machine's, and nothing can leave it: it has no route
// anywhere but loopback. Needs CAP_SYS_ADMIN (root in the container); callers skip otherwise.
#pragma once

#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <optional>

// Writes a value under /proc/sys; in the namespace of the calling process for net.* entries.
inline bool WriteProcSys(const char* path, const char* value) {
  std::ofstream out(path);
  out << value;
  out.flush();
  return static_cast<bool>(out);
}

// The exit code of a child whose namespaces could not be set up.
inline constexpr int kSetupFailed = 125;

// The child's exit code, or nullopt when the namespace could not be set up.
inline std::optional<int> RunInPrivateNetwork(const std::function<int()>& body) {
  pid_t child = fork();
  if (child < 0) return std::nullopt;
  if (child == 0) {
    if (unshare(CLONE_NEWNET) != 0) _exit(kSetupFailed);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    if (fd < 0 || ioctl(fd, SIOCGIFFLAGS, &request) != 0) _exit(kSetupFailed);
    request.ifr_flags |= IFF_UP;
    if (ioctl(fd, SIOCSIFFLAGS, &request) != 0) _exit(kSetupFailed);
    close(fd);
    _exit(body());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  if (WEXITSTATUS(status) == kSetupFailed) return std::nullopt;
  return WEXITSTATUS(status);
}

// For a test: runs `body`, which returns its number of failures, as RunInPrivateNetwork does and
// in a private mount namespace with cgroup2 mounted on /sys/fs/cgroup (the machine's own
// hierarchy: the body removes what it makes there), and expects no failures. Skips the test
// where that cannot be set up.
inline void ExpectNoFailuresWithPrivateNetworkAndCgroups(const std::function<int()>& body) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  std::optional<int> failures = RunInPrivateNetwork([&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("none", "/sys/fs/cgroup", "cgroup2", 0, nullptr) != 0)
      return kSetupFailed;
    return body();
  });
  if (!failures) GTEST_SKIP() << "no private namespaces with cgroup2";
  EXPECT_EQ(*failures, 0);
}
