// The status file the backend service reads: one record per line whatever the user names.
#include "kernel_mode/status_file.h"

#include <gtest/gtest.h>

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

}  // namespace
