#include "services/shortcut.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "services/desktop_exec.h"
#include "support/expect_rows.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

TEST(DesktopExecTest, QuotesByTheDesktopEntryRules) {
  const Row<const char*, const char*> rows[] = {
      {"/usr/bin/plain", "/usr/bin/plain"},
      {"a b", "\"a b\""},
      {"", "\"\""},
      {"100%", "100%%"},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"$HOME", "\"\\$HOME\""},
      {"back\\slash", "\"back\\\\slash\""},
      {"`cmd`", "\"\\`cmd\\`\""},
      {"it's", "\"it's\""},
      {"50% off", "\"50%% off\""},
  };
  ExpectRows([](const char* argument) { return QuoteExecArgument(argument); }, rows);
}

class ShortcutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing_support::MakeTempDir("morvil-shortcut");
    target_ = dir_ / "My App" / "run me";
    fs::create_directories(target_.parent_path());
    std::ofstream(target_) << "#!/bin/sh\n";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  static Text T(const fs::path& p) { return FromUtf8(p.string()); }
  bool Create(const fs::path& target, const fs::path& link, const Text& arguments) {
    return CreateShortcut(T(target), T(link), arguments, u"ignored", u"", u"");
  }
  // The arguments the launcher would hand the program, as GLib reads the entry.
  static std::vector<std::string> ExecArguments(const fs::path& link) {
    GKeyFile* entry = g_key_file_new();
    std::vector<std::string> out;
    if (g_key_file_load_from_file(entry, link.c_str(), G_KEY_FILE_NONE, nullptr)) {
      gchar* exec = g_key_file_get_string(entry, "Desktop Entry", "Exec", nullptr);
      gchar** argv = nullptr;
      // Field codes aside, an Exec value is read by shell quoting rules.
      std::string unpercent;
      for (const char* p = exec; p && *p; ++p) {
        unpercent += *p;
        if (p[0] == '%' && p[1] == '%') ++p;
      }
      if (g_shell_parse_argv(unpercent.c_str(), nullptr, &argv, nullptr))
        for (gchar** a = argv; *a; ++a) out.emplace_back(*a);
      g_strfreev(argv);
      g_free(exec);
    }
    g_key_file_free(entry);
    return out;
  }
  fs::path dir_;
  fs::path target_;
};

TEST_F(ShortcutTest, WritesAnApplicationEntryThatStartsTheTargetWithItsArguments) {
  fs::path link = dir_ / "Morvil Accelerator.desktop";
  ASSERT_TRUE(Create(target_, link, u"tray \"two words\" 100% $HOME back\\slash"));
  EXPECT_EQ(ExecArguments(link), (std::vector<std::string>{target_.string(), "tray", "two words",
                                                           "100%", "$HOME", "back\\slash"}));
  GKeyFile* entry = g_key_file_new();
  ASSERT_TRUE(g_key_file_load_from_file(entry, link.c_str(), G_KEY_FILE_NONE, nullptr));
  gchar* type = g_key_file_get_string(entry, "Desktop Entry", "Type", nullptr);
  gchar* name = g_key_file_get_string(entry, "Desktop Entry", "Name", nullptr);
  EXPECT_STREQ(type, "Application");
  EXPECT_STREQ(name, "Morvil Accelerator");
  g_free(type);
  g_free(name);
  g_key_file_free(entry);
  EXPECT_NE(fs::status(link).permissions() & fs::perms::owner_exec, fs::perms::none);
}

TEST_F(ShortcutTest, PassesDesktopFileValidate) {
  if (!fs::exists("/usr/bin/desktop-file-validate")) GTEST_SKIP() << "desktop-file-utils missing";
  fs::path link = dir_ / "morvil.desktop";
  ASSERT_TRUE(Create(target_, link, u"--flag \"a \\\"quoted\\\" word\" `x` ~ 'q' 50%"));
  std::string file = link.string();
  char* argv[] = {const_cast<char*>("/usr/bin/desktop-file-validate"), file.data(), nullptr};
  gchar* out = nullptr;
  gchar* err = nullptr;
  gint status = 0;
  ASSERT_TRUE(g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_DEFAULT, nullptr, nullptr, &out, &err,
                           &status, nullptr));
  EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << out << err;
  EXPECT_STREQ(out, "");  // no warnings either
  g_free(out);
  g_free(err);
}

// Backslashes in either path are read as '/'; an existing link file is replaced.
TEST_F(ShortcutTest, BackslashPathsAndReplacement) {
  fs::path link = dir_ / "x.desktop";
  std::ofstream(link) << "old";
  Text target = T(target_), link_text = T(link);
  for (char16_t& c : target)
    if (c == u'/') c = u'\\';
  for (char16_t& c : link_text)
    if (c == u'/') c = u'\\';
  ASSERT_TRUE(CreateShortcut(target, link_text, u"", u"", u"", u""));
  EXPECT_EQ(ExecArguments(link), std::vector<std::string>{target_.string()});
}

TEST_F(ShortcutTest, RefusesMissingOrUnreadableTargetsAndMissingDirectories) {
  fs::path link = dir_ / "bad.desktop";
  EXPECT_FALSE(Create(dir_ / "missing", link, u""));
  EXPECT_FALSE(Create(target_.parent_path(), link, u""));  // a directory
  EXPECT_FALSE(fs::exists(link));                          // nothing written
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(Create(dir_ / "fifo", link, u""));  // neither a file nor a hang
  EXPECT_FALSE(Create(target_, dir_ / "no such dir" / "x.desktop", u""));
  EXPECT_FALSE(CreateShortcut(u"", T(link), u"", u"", u"", u""));
  EXPECT_FALSE(fs::exists(link));
}
