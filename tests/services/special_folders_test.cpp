#include "services/special_folders.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "base/path.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

class SpecialFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = testing_support::MakeTempDir("morvil-folders");
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
      const char* v = std::getenv(name);
      saved_[name] = v ? std::optional<std::string>(v) : std::nullopt;
    }
    ::setenv("HOME", home_.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
  }
  void TearDown() override {
    for (auto& [name, value] : saved_) {
      if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
      else
        ::unsetenv(name.c_str());
    }
    std::error_code ignored;
    fs::remove_all(home_, ignored);
  }
  void WriteUserDirs(const std::string& text) {
    fs::create_directories(home_ / ".config");
    std::ofstream(home_ / ".config" / "user-dirs.dirs") << text;
  }
  Text Home(const char* rest = "") { return FromUtf8(home_.string() + rest); }

  fs::path home_;
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST_F(SpecialFoldersTest, FoldersTheSystemLacksAreEmpty) {
  EXPECT_EQ(GetWindowsPath(), u"");
  EXPECT_EQ(GetCommonDesktopPath(), u"");
  EXPECT_EQ(GetCommonDocumentsPath(), u"");
}

TEST_F(SpecialFoldersTest, UserFoldersFollowXdgDefaultsAndOverrides) {
  EXPECT_EQ(GetUserAppDataPath(), Home("/.config"));
  EXPECT_EQ(GetUserLocalAppDataPath(), Home("/.local/share"));
  EXPECT_EQ(GetUserStartMenuPath(), Home("/.local/share/applications"));
  EXPECT_EQ(GetUserStartupPath(), Home("/.config/autostart"));
  ::setenv("XDG_CONFIG_HOME", "/elsewhere/conf/", 1);
  ::setenv("XDG_DATA_HOME", "/elsewhere/data", 1);
  EXPECT_EQ(GetUserAppDataPath(), u"/elsewhere/conf");
  EXPECT_EQ(GetUserStartupPath(), u"/elsewhere/conf/autostart");
  EXPECT_EQ(GetUserLocalAppDataPath(), u"/elsewhere/data");
  EXPECT_EQ(GetUserStartMenuPath(), u"/elsewhere/data/applications");
  // A relative value is not a base directory and is ignored.
  ::setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(GetUserLocalAppDataPath(), Home("/.local/share"));
  EXPECT_FALSE(fs::exists(home_ / ".local"));  // never created
}

TEST_F(SpecialFoldersTest, DesktopAndDocumentsComeFromUserDirs) {
  EXPECT_EQ(GetUserDesktopPath(), u"");  // no user-dirs.dirs: the user has none
  WriteUserDirs(
      "# written by xdg-user-dirs-update\n"
      "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
      "XDG_DOCUMENTS_DIR=\"/data/My \\\"Docs\\\"/\"\n"
      "XDG_MUSIC_DIR=\"$HOME/\"\n");
  EXPECT_EQ(GetUserDesktopPath(), Home("/Bureau"));
  EXPECT_EQ(GetUserDocumentsPath(), u"/data/My \"Docs\"");
  WriteUserDirs("XDG_DESKTOP_DIR=\"$HOME\"\n");  // pointing at home turns it off
  EXPECT_EQ(GetUserDesktopPath(), u"");
  EXPECT_EQ(GetUserDocumentsPath(), u"");
}

TEST_F(SpecialFoldersTest, AppCurrentPathIsTheExecutablesDirectoryNotTheCurrentOne) {
  fs::path before = fs::current_path();
  fs::current_path(home_);
  Text dir = GetAppCurrentPath();
  fs::current_path(before);
  EXPECT_EQ(dir, GetAppDirectory());
  EXPECT_NE(dir, Home());
  EXPECT_TRUE(fs::exists(ToUtf8(dir) + "/services_tests"));
}
