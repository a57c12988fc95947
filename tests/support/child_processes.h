// Helpers for tests that start real programs: scripts written into a test directory, waiting for
// a file a program writes, and the children of the calling thread (to show that none is left).
#pragma once

#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

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
