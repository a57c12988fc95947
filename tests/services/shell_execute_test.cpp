// The shell script methods with real child programs: shell scripts written into a temporary
// home, and the system's sh and sleep.
#include "services/shell_execute.h"

#include <gtest/gtest.h>

#include <chrono>

#include "services/shell_start.h"
#include "support/child_processes.h"
#include "support/temp_home.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class ShellExecuteTest : public ::testing::Test {
 protected:
  Text Path(const std::string& relative) const { return FromUtf8(home_.path(relative)); }
  TempHome home_;
};

TEST_F(ShellExecuteTest, WaitReturnsTheExitCodeAndSignalEndsAsShellsReportThem) {
  EXPECT_EQ(ShellExecuteAndWait(u"open", u"/bin/sh", u"-c \"exit 3\"", 0, 5000), 3);
  EXPECT_EQ(ShellExecuteAndWait(u"", u"/bin/sh", u"-c \"exit 0\"", 1, -1), 0);
  EXPECT_EQ(ShellExecuteAndWait(u"OPEN", u"/bin/sh", u"-c \"exit 255\"", 0, 5000), 255);
  // Ended by SIGKILL: 128 + 9.
  EXPECT_EQ(ShellExecuteAndWait(u"open", u"/bin/sh", u"-c \"kill -9 $$\"", 0, 5000), 137);
  // A bare name is looked for on PATH.
  EXPECT_EQ(ShellExecuteAndWait(u"runas", u"sh", u"-c \"exit 4\"", 0, 5000), 4);
}

TEST_F(ShellExecuteTest, ParametersAreSplitByTheQuotingRules) {
  WriteScript(home_.path("args.sh"), "for a in \"$@\"; do echo \"[$a]\"; done > args.txt");
  ASSERT_EQ(ShellExecuteAndWait(u"open", Path("args.sh"),
                                u" plain \"two words\" \"say \\\"hi\\\"\" \"\"", 0, 5000),
            0);
  EXPECT_EQ(TempHome::ReadAll(home_.path("args.txt")), "[plain]\n[two words]\n[say \"hi\"]\n[]\n");
}

TEST_F(ShellExecuteTest, TimeOutEndsTheProgramAndReaps) {
  std::string before = ChildrenOfThisThread();
  auto start = steady_clock::now();
  EXPECT_EQ(ShellExecuteAndWait(u"open", u"/bin/sleep", u"30", 0, 1000), kShellWaitTimedOut);
  auto took = steady_clock::now() - start;
  EXPECT_GE(took, milliseconds(1000));
  EXPECT_LT(took, milliseconds(5000));
  // A program that ignores SIGTERM is killed after the grace period.
  start = steady_clock::now();
  EXPECT_EQ(ShellExecuteAndWait(u"open", u"/bin/sh", u"-c \"trap '' TERM; exec sleep 30\"", 0, 200),
            kShellWaitTimedOut);
  EXPECT_LT(steady_clock::now() - start, milliseconds(5000));
  EXPECT_EQ(ChildrenOfThisThread(), before);  // no zombie left behind
}

TEST_F(ShellExecuteTest, NothingStartedGivesTheFixedValue) {
  WriteScript(home_.path("marker.sh"), "echo ran > marker.txt");
  EXPECT_EQ(ShellExecuteAndWait(u"open", Path("missing.sh"), u"", 0, 1000), kShellNoProcess);
  EXPECT_EQ(ShellExecuteAndWait(u"open", u"no-such-program-here", u"", 0, 1000), kShellNoProcess);
  EXPECT_EQ(ShellExecuteAndWait(u"print", Path("marker.sh"), u"", 0, 1000), kShellNoProcess);
  EXPECT_FALSE(std::filesystem::exists(home_.path("marker.txt")));
  EXPECT_NE(kShellNoProcess, 0);
}

TEST_F(ShellExecuteTest, StartFailuresMapToTheShellCodes) {
  std::filesystem::create_directory(home_.path("dir"));
  TempHome::WriteAll(home_.path("dir/garbage"),
                     "\x7f"
                     "ELF not really");
  ::chmod(home_.path("dir/garbage").c_str(), 0755);
  EXPECT_EQ(ShellExecute(Path("dir/missing"), u"", 1), kShellFileNotFound);
  EXPECT_EQ(ShellExecute(Path("nodir/missing"), u"", 1), kShellPathNotFound);
  EXPECT_EQ(ShellExecute(Path("dir/garbage/x"), u"", 1), kShellPathNotFound);
  EXPECT_EQ(ShellExecute(Path("dir/garbage"), u"", 1), kShellBadFormat);
  EXPECT_EQ(ShellExecute(u"", u"", 1), kShellFileNotFound);
  EXPECT_EQ(ShellExecute(u"no-such-program-here", u"", 1), kShellFileNotFound);
}

TEST_F(ShellExecuteTest, WorkingDirectoryIsTheFilesDirectory) {
  std::filesystem::create_directory(home_.path("tools"));
  WriteScript(home_.path("tools/where.sh"), "pwd > \"$1\"");
  std::string out = home_.path("out1.txt");
  // Backslashes count as separators.
  Text file = Path("tools/where.sh");
  std::replace(file.begin(), file.end(), u'/', u'\\');
  EXPECT_GT(ShellExecute(file, FromUtf8("\"" + out + "\""), 1), 32);
  EXPECT_EQ(WaitForFile(out), home_.path("tools") + "\n");
}

TEST_F(ShellExecuteTest, BareNameRunsInTheCurrentDirectoryAndIsReapedWhenItEnds) {
  std::string before = ChildrenOfThisThread();
  WriteScript(home_.path("here.sh"), "pwd > here.txt");
  EXPECT_EQ(ShellExecute(u"here.sh", u"", 0), kShellStarted);
  EXPECT_EQ(WaitForFile(home_.path("here.txt")), std::filesystem::current_path().string() + "\n");
  // Nobody waits for it, yet it leaves no zombie once it has ended.
  for (int i = 0; i < 500 && ChildrenOfThisThread() != before; ++i)
    std::this_thread::sleep_for(milliseconds(10));
  EXPECT_EQ(ChildrenOfThisThread(), before);
}

TEST_F(ShellExecuteTest, ExistingFileIsNotReadAsAUrl) {
  WriteScript(home_.path("ab:c.sh"), "echo ran > ran.txt");
  EXPECT_EQ(ShellExecuteAndWait(u"open", u"ab:c.sh", u"", 0, 5000), 0);
  EXPECT_EQ(TempHome::ReadAll(home_.path("ran.txt")), "ran\n");
}

}  // namespace
