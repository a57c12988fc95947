// Helpers for tests that start real programs: scripts written into a test directory, waiting for
// a file a program writes, the children of the calling thread (to show that none is left), and
// work done by several processes at once.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

// Writes an executable shell script.
inline void WriteScript(const std::string& path, const std::string& body) {
  std::ofstream(path, std::ios::trunc) << "#!/bin/sh\n" << body << "\n";
  ::chmod(path.c_str(), 0755);
}

// The file's contents once it exists and ends in a line break (the writer is done), or "" after
// `limit`.
inline std::string WaitForFile(const std::string& path,
                               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream in(path);
    std::string text(std::istreambuf_iterator<char>(in), {});
    if (!text.empty() && text.back() == '\n') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

// The ids of the calling thread's children, zombies included, as the kernel lists them.
inline std::string ChildrenOfThisThread() {
  std::ifstream in("/proc/self/task/" + std::to_string(::syscall(SYS_gettid)) + "/children");
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs `work(i)` for every i below `count`, each in a child process of its own and all at once,
// waits for them and expects each to report no failures. `work` returns its number of failures,
// which its process exits with (shown when it is not 0).
template <typename Work>
void ExpectChildrenSucceed(int count, const Work& work) {
  std::vector<pid_t> pids;
  for (int i = 0; i < count; ++i) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) ::_exit(std::min(work(i), 255));
    pids.push_back(pid);
  }
  for (size_t i = 0; i < pids.size(); ++i) {
    int status = 0;
    ASSERT_EQ(::waitpid(pids[i], &status, 0), pids[i]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "child " << i << " exit status " << status;
  }
}
