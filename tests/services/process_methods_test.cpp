// Finding and ending processes by executable name, with a copy of sleep under a name of its own.
#include "services/process_methods.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "support/temp_home.h"

extern char** environ;

namespace {

class ProcessMethodsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "morvil-sleeper-" + std::to_string(::getpid());
    program_ = home_.path(name_);
    std::filesystem::copy_file("/bin/sleep", program_);
  }
  void TearDown() override {
    for (pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  pid_t Start() {
    std::string seconds = "30";
    char* argv[] = {program_.data(), seconds.data(), nullptr};
    pid_t pid = 0;
    EXPECT_EQ(::posix_spawn(&pid, program_.c_str(), nullptr, nullptr, argv, environ), 0);
    children_.push_back(pid);
    return pid;
  }
  // Waits for the child and tells how it ended.
  int EndingSignal(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    std::erase(children_, pid);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  Text Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return FromUtf8(text);
  }

  TempHome home_;
  std::string name_, program_;
  std::vector<pid_t> children_;
};

TEST_F(ProcessMethodsTest, FindsByNameInCapitalsAndEndsIt) {
  pid_t first = Start();
  pid_t second = Start();
  int32_t handle = FindProcessByExecFileName(Upper(name_));
  ASSERT_GT(handle, 0);
  // Searching again finds the same process and gives the same handle.
  EXPECT_EQ(FindProcessByExecFileName(FromUtf8(name_)), handle);
  EXPECT_TRUE(CloseProcessByHandle(handle));
  // Only the first process (lowest id) was found and ended.
  pid_t found = std::min(first, second), other = std::max(first, second);
  EXPECT_EQ(EndingSignal(found), SIGKILL);
  EXPECT_EQ(::kill(other, 0), 0);
  // The handle stays, but its process has gone.
  EXPECT_FALSE(CloseProcessByHandle(handle));
  // The next search finds the other one under a new handle.
  int32_t next = FindProcessByExecFileName(FromUtf8(name_));
  ASSERT_GT(next, 0);
  EXPECT_NE(next, handle);
  EXPECT_TRUE(CloseProcessByHandle(next));
  EXPECT_EQ(EndingSignal(other), SIGKILL);
}

TEST_F(ProcessMethodsTest, FullPathsUnknownNamesAndHandlesGiveNothing) {
  Start();
  EXPECT_EQ(FindProcessByExecFileName(FromUtf8(program_)), 0);
  EXPECT_EQ(FindProcessByExecFileName(FromUtf8(name_ + ".exe")), 0);
  EXPECT_EQ(FindProcessByExecFileName(u"no-such-process-name"), 0);
  EXPECT_FALSE(CloseProcessByHandle(0));
  EXPECT_FALSE(CloseProcessByHandle(-1));
  EXPECT_FALSE(CloseProcessByHandle(123457));
}

}  // namespace
