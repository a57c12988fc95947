// Conformance of the process layer: pidfds, posix_spawn and /proc, pinned one behaviour a test.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>

#include "platform/process_handle.h"
#include "platform/process_list.h"
#include "platform/process_spawn.h"
#include "support/temp_home.h"

namespace {

using std::chrono::milliseconds;

Result<ProcessHandle> Spawn(std::vector<std::string> arguments, std::string directory = "") {
  SpawnRequest request;
  request.program = arguments.front();
  request.arguments = std::move(arguments);
  request.working_directory = std::move(directory);
  return SpawnProcess(request);
}

// Pinned: a child that has ended counts as ended before it is reaped; once reaped, signals to
// its handle fail with ESRCH (the id may belong to another process by then).
TEST(ProcessHandleTest, EndedChildBeforeAndAfterReaping) {
  Result<ProcessHandle> child = Spawn({"/bin/sh", "-c", "exit 7"});
  ASSERT_TRUE(child);
  Result<bool> ended = child->WaitEnded(milliseconds(5000));
  ASSERT_TRUE(ended && *ended);
  EXPECT_TRUE(child->HasEnded());
  Result<int> status = ReapChild(*child);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 7);
  Result<void> signal = child->Signal(0);
  ASSERT_FALSE(signal);
  EXPECT_EQ(signal.error().code, ESRCH);
}

// Pinned: a running process is not ended, a wait with a time-out reports false, SIGTERM ends it
// and the status is 128 + 15.
TEST(ProcessHandleTest, WaitTimesOutThenSignalEnds) {
  Result<ProcessHandle> child = Spawn({"/bin/sleep", "30"});
  ASSERT_TRUE(child);
  EXPECT_FALSE(child->HasEnded());
  Result<bool> ended = child->WaitEnded(milliseconds(50));
  ASSERT_TRUE(ended);
  EXPECT_FALSE(*ended);
  EXPECT_TRUE(child->Signal(SIGTERM));
  Result<int> status = ReapChild(*child);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 128 + SIGTERM);
}

TEST(ProcessSpawnTest, StartFailuresCarryTheirErrno) {
  TempHome home;
  struct Row {
    std::string program;
    int error;
  } rows[] = {{home.path("missing"), ENOENT}, {home.root(), EACCES}, {"", ENOENT}};
  for (size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    Result<ProcessHandle> child = Spawn({rows[i].program});
    ASSERT_FALSE(child);
    EXPECT_EQ(child.error().code, rows[i].error);
  }
}

// Pinned: a relative program path means the caller's directory, not the child's new one.
TEST(ProcessSpawnTest, RelativeProgramIsResolvedBeforeTheDirectoryChanges) {
  TempHome home;  // the current directory
  std::filesystem::create_directory(home.path("sub"));
  TempHome::WriteAll(home.path("where.sh"), "#!/bin/sh\npwd > where.txt\n");
  ::chmod(home.path("where.sh").c_str(), 0755);
  Result<ProcessHandle> child = Spawn({"where.sh"}, home.path("sub"));
  ASSERT_TRUE(child);
  ASSERT_TRUE(ReapChild(*child));
  EXPECT_EQ(TempHome::ReadAll(home.path("sub/where.txt")), home.path("sub") + "\n");
}

// Pinned: a process whose program file was deleted keeps its name, without the kernel's
// " (deleted)" mark; the list is in ascending id order.
TEST(ProcessListTest, NamesComeFromTheExecutableEvenWhenDeleted) {
  TempHome home;
  std::string program = home.path("morvil-listed-" + std::to_string(::getpid()));
  std::filesystem::copy_file("/bin/sleep", program);
  Result<ProcessHandle> child = Spawn({program, "30"});
  ASSERT_TRUE(child);
  std::filesystem::remove(program);
  std::vector<ProcessEntry> list = ListProcesses();
  EXPECT_TRUE(
      std::is_sorted(list.begin(), list.end(),
                     [](const ProcessEntry& a, const ProcessEntry& b) { return a.pid < b.pid; }));
  auto find = [&](pid_t pid) {
    return std::find_if(list.begin(), list.end(),
                        [&](const ProcessEntry& e) { return e.pid == pid; });
  };
  ASSERT_NE(find(child->pid()), list.end());
  EXPECT_EQ(find(child->pid())->exe_name, "morvil-listed-" + std::to_string(::getpid()));
  ASSERT_NE(find(::getpid()), list.end());
  EXPECT_EQ(find(::getpid())->exe_name, "platform_tests");
  EXPECT_TRUE(child->Signal(SIGKILL));
  EXPECT_TRUE(ReapChild(*child));
}

}  // namespace
