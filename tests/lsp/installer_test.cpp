// The installer run as the backend service runs it: -i makes later sessions preload the library
// through environment.d, -r takes that back.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "support/bin_directory.h"
#include "support/temp_home.h"

namespace {

class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(BinDirectory() / "sorvan_lsp.so")) GTEST_SKIP() << "not built";
    ::unsetenv("MORVIL_STANDIN_PELLIX_EXIT");
    ::setenv("XDG_DATA_HOME", home_.path("data").c_str(), 1);
    ::setenv("XDG_STATE_HOME", home_.path("state").c_str(), 1);
    std::filesystem::create_directory(home_.path("Morvil Accelerator"));
    std::filesystem::create_symlink(BinDirectory() / "sorvan_lsp.so",
                                    home_.path("Morvil Accelerator/sorvan_lsp.so"));
  }
  int Run(const std::string& arguments) {
    std::string command = "'" + (BinDirectory() / "pellix.exe").string() + "' " + arguments;
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Installed(const char* dir) { return "'" + home_.path(dir) + "/sorvan_lsp.dll'"; }
  std::string EnvironmentFile() { return home_.path("config/environment.d/60-sorvan_lsp.conf"); }
  std::string Link() { return home_.path("data/morvil/sorvan_lsp.so"); }

  TempHome home_;
};

TEST_F(InstallerTest, InstallPreloadsTheLibraryBesideTheNamedDll) {
  ASSERT_EQ(Run("-i -a -n sorvan_lsp -d32 " + Installed("Morvil Accelerator")), 0);
  // The program directory has a blank, which LD_PRELOAD cannot carry: a link of ours stands in.
  EXPECT_EQ(TempHome::ReadAll(EnvironmentFile()),
            "# Loads the network-stack component of Morvil Accelerator into programs.\n"
            "LD_PRELOAD=" +
                Link() + "${LD_PRELOAD:+:$LD_PRELOAD}\n");
  EXPECT_EQ(std::filesystem::canonical(Link()),
            std::filesystem::canonical(BinDirectory() / "sorvan_lsp.so"));
  // Installing again replaces the same files.
  ASSERT_EQ(Run("-i -a -n sorvan_lsp -d32 " + Installed("Morvil Accelerator")), 0);
  EXPECT_TRUE(std::filesystem::exists(Link()));
}

TEST_F(InstallerTest, MissingLibraryIsNotInstalled) {
  std::filesystem::create_directory(home_.path("empty"));
  EXPECT_EQ(Run("-i -a -n sorvan_lsp -d32 " + Installed("empty")), 1);
  EXPECT_FALSE(std::filesystem::exists(EnvironmentFile()));
  EXPECT_FALSE(std::filesystem::is_symlink(Link()));
}

TEST_F(InstallerTest, RemoveUndoesTheInstallAndSucceedsWhenNothingIsThere) {
  ASSERT_EQ(Run("-i -a -n sorvan_lsp -d32 " + Installed("Morvil Accelerator")), 0);
  EXPECT_EQ(Run("-r -n sorvan_lsp"), 0);
  EXPECT_FALSE(std::filesystem::exists(EnvironmentFile()));
  EXPECT_FALSE(std::filesystem::is_symlink(Link()));
  EXPECT_FALSE(std::filesystem::exists(home_.path("state/morvil/lsp-installed")));
  EXPECT_EQ(Run("-r -n sorvan_lsp"), 0);
  EXPECT_EQ(Run("-r -n other"), 2);
}

}  // namespace
