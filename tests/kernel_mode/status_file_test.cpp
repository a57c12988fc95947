// The status file the backend service reads: one record per line whatever the user names.
#include "kernel_mode/status_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/temp_dir.h"

namespace {

TEST(StatusFileTest, RecordsInOrderAndProxyOnlyWhileOn) {
  ComponentStatus status;
  status.component = 42;
  status.updated = 1700000000;
  status.cgroup = "/sys/fs/cgroup/morvil/u1000";
  status.programs = {{7, 100, 2000, "C:\\Games\\game.exe"}};
  EXPECT_EQ(FormatStatus(status),
            "mode kernel\ncomponent 42\nupdated 1700000000\ncgroup /sys/fs/cgroup/morvil/u1000\n"
            "program 7 100 2000 C:\\Games\\game.exe\n");
  status.proxy_host = "proxy.example";
  status.proxy_port = 1080;
  EXPECT_NE(FormatStatus(status).find("\nproxy proxy.example 1080\nprogram 7 "), std::string::npos);
  // Datagrams the relay dropped show once there are any, after the programs.
  status.udp_dropped = {0, 3, 0, 1};
  EXPECT_TRUE(FormatStatus(status).ends_with("\nudp-dropped 0 3 0 1\n")) << FormatStatus(status);
}

TEST(StatusFileTest, LineBreaksInNamesCannotAddRecords) {
  ComponentStatus status;
  status.proxy_host = "evil\ncomponent 1";
  status.programs = {{7, 0, 0, "/home/u/a\nmode preload\r\x7f"}};
  std::string text = FormatStatus(status);
  EXPECT_EQ(text.find("\ncomponent 1\n"), std::string::npos);
  EXPECT_NE(text.find("program 7 0 0 /home/u/a?mode preload??\n"), std::string::npos);
  EXPECT_NE(text.find("proxy evil?component 1 0\n"), std::string::npos);
}

// The file is whole or the old one, readable by its owner only; a failed replacement leaves no
// temporary file behind.
TEST(StatusFileTest, ReplacedWholeForItsOwnerOnlyAndFailuresLeaveNothing) {
  const std::filesystem::path dir = testing_support::MakeTempDir("status-file");
  struct Remove {
    std::filesystem::path dir;
    ~Remove() { std::filesystem::remove_all(dir); }
  } remove{dir};
  const std::filesystem::path file = dir / "status";
  ASSERT_TRUE(ReplaceFile(file, "old\n"));
  ASSERT_TRUE(ReplaceFile(file, "new\n"));
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new\n");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  // A directory in the way: the rename fails.
  const std::filesystem::path blocked = dir / "blocked";
  std::filesystem::create_directories(blocked / "inside");
  EXPECT_FALSE(ReplaceFile(blocked, "text\n"));
  EXPECT_FALSE(std::filesystem::exists(dir / "blocked.tmp"));
}

}  // namespace
