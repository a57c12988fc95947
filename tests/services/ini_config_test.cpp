#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "services/base_ini_file.h"
#include "services/file_methods.h"
#include "support/child_processes.h"
#include "support/temp_home.h"
#include "support/without_privileges.h"

namespace fs = std::filesystem;

namespace {

class IniConfigTest : public ::testing::Test {
 protected:
  Text T(const std::string& relative) const { return FromUtf8(home_.path(relative)); }
  std::string P(const std::string& relative) const { return home_.path(relative); }
  TempHome home_;
};

// Runs a Python script with configparser; returns its standard output.
std::string Python(const std::string& script) {
  std::string file = fs::temp_directory_path() / ("morvil-ini-" + std::to_string(getpid()) + ".py");
  TempHome::WriteAll(file, script);
  FILE* p = popen(("python3 " + file + " 2>&1").c_str(), "r");
  std::string out;
  char buf[256];
  while (p && fgets(buf, sizeof buf, p)) out += buf;
  if (p) pclose(p);
  fs::remove(file);
  return out;
}

TEST_F(IniConfigTest, ReadingAMissingFileCreatesNothingWritingCreatesIt) {
  EXPECT_EQ(ReadConfig(T("a.ini"), u"S", u"k"), u"");
  EXPECT_FALSE(fs::exists(P("a.ini")));
  EXPECT_TRUE(WriteConfig(T("a.ini"), u"S", u"k", u"v"));
  EXPECT_EQ(TempHome::ReadAll(P("a.ini")), "[S]\nk=v\n");
  EXPECT_EQ(ReadConfig(T("a.ini"), u"S", u"k"), u"v");
  EXPECT_EQ(ReadConfig(T("a.ini"), u"S", u"other"), u"");
  EXPECT_EQ(ReadConfig(T("a.ini"), u"Other", u"k"), u"");
  EXPECT_FALSE(WriteConfig(T("missing/a.ini"), u"S", u"k", u"v"));
}

// A settings file the user may write, in a folder the user may not: written in place.
TEST_F(IniConfigTest, WriteConfigWritesAFileInAFolderThatCannotBeWritten) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to set up the folder";
  fs::create_directory(P("shared"));
  TempHome::WriteAll(P("shared/a.ini"), "[S]\nk=old\n");
  chmod(P("shared").c_str(), 0555);
  EXPECT_TRUE(
      RunWithoutPrivileges([&] { return WriteConfig(T("shared/a.ini"), u"S", u"k", u"new"); }));
  EXPECT_EQ(TempHome::ReadAll(P("shared/a.ini")), "[S]\nk=new\n");
  EXPECT_FALSE(
      RunWithoutPrivileges([&] { return WriteConfig(T("shared/b.ini"), u"S", u"k", u"v"); }));
}

// A value reads back through a 1024-unit buffer: its first 1023 units.
TEST_F(IniConfigTest, LongValuesAreCutTo1023Units) {
  Text value;
  for (int i = 0; i < 2000; ++i) value += static_cast<char16_t>(u'a' + i % 26);
  ASSERT_TRUE(WriteConfig(T("long.ini"), u"S", u"k", value));
  EXPECT_EQ(ReadConfig(T("long.ini"), u"S", u"k"), value.substr(0, 1023));
}

// Sections and keys match with case ignored; everything else in the file stays as it was.
TEST_F(IniConfigTest, EditsKeepTheRestOfTheFile) {
  TempHome::WriteAll(P("c.ini"),
                     "; settings\n"
                     "[Main]\n"
                     "# a comment\n"
                     "  Name = old value  \n"
                     "Other=1\n"
                     "stray line\n"
                     "\n"
                     "[Quoted]\n"
                     "q=\"  spaced  \"\n"
                     "s='single'\n"
                     "half=\"open\n");
  EXPECT_EQ(ReadConfig(T("c.ini"), u"main", u"NAME"), u"old value");
  EXPECT_EQ(ReadConfig(T("c.ini"), u"Quoted", u"q"), u"  spaced  ");
  EXPECT_EQ(ReadConfig(T("c.ini"), u"Quoted", u"s"), u"single");
  EXPECT_EQ(ReadConfig(T("c.ini"), u"Quoted", u"half"), u"\"open");
  EXPECT_EQ(ReadConfig(T("c.ini"), u"Main", u"# a comment"), u"");

  ASSERT_TRUE(WriteConfig(T("c.ini"), u"MAIN", u"name", u"new"));
  ASSERT_TRUE(WriteConfig(T("c.ini"), u"main", u"Added", u"2"));
  ASSERT_TRUE(WriteConfig(T("c.ini"), u"Fresh", u"k", u"\u00e9"));
  EXPECT_EQ(TempHome::ReadAll(P("c.ini")),
            "; settings\n"
            "[Main]\n"
            "# a comment\n"
            "Name=new\n"
            "Other=1\n"
            "stray line\n"
            "Added=2\n"
            "\n"
            "[Quoted]\n"
            "q=\"  spaced  \"\n"
            "s='single'\n"
            "half=\"open\n"
            "[Fresh]\n"
            "k=\xc3\xa9\n");
}

TEST_F(IniConfigTest, CrLfLineEndingsStay) {
  TempHome::WriteAll(P("w.ini"), "[S]\r\na=1\r\n");
  EXPECT_EQ(ReadConfig(T("w.ini"), u"S", u"a"), u"1");
  ASSERT_TRUE(WriteConfig(T("w.ini"), u"S", u"b", u"2"));
  EXPECT_EQ(TempHome::ReadAll(P("w.ini")), "[S]\r\na=1\r\nb=2\r\n");
}

// A line break would split the line into keys or sections of its own.
TEST_F(IniConfigTest, LineBreaksAreRefused) {
  ASSERT_TRUE(WriteConfig(T("b.ini"), u"S", u"a", u"1"));
  EXPECT_FALSE(WriteConfig(T("b.ini"), u"S", u"a", u"x\n[Evil]\nk=v"));
  EXPECT_FALSE(WriteConfig(T("b.ini"), u"S\r", u"a", u"1"));
  EXPECT_FALSE(WriteConfig(T("b.ini"), u"S", u"a\nb", u"1"));
  EXPECT_EQ(TempHome::ReadAll(P("b.ini")), "[S]\na=1\n");
}

// A bare name is one file in the morvil configuration directory for every step.
TEST_F(IniConfigTest, BareNamesLiveInTheConfigDirectory) {
  EXPECT_EQ(ReadConfig(u"bare.ini", u"S", u"k"), u"");
  EXPECT_TRUE(WriteConfig(u"bare.ini", u"S", u"k", u"v"));
  EXPECT_TRUE(fs::exists(P("config/morvil/bare.ini")));
  EXPECT_FALSE(fs::exists(P("bare.ini")));  // the current directory
  EXPECT_EQ(ReadConfig(u"bare.ini", u"S", u"k"), u"v");
  CBaseIniFile ini;
  EXPECT_TRUE(ini.Open(u"bare.ini", FALSE));
  EXPECT_EQ(ini.FileSystemPath(), P("config/morvil/bare.ini"));
  // A relative path with a directory stays relative to the current directory.
  fs::create_directory(P("sub"));
  EXPECT_TRUE(WriteConfig(u"sub\\rel.ini", u"S", u"k", u"v"));
  EXPECT_TRUE(fs::exists(P("sub/rel.ini")));
}

TEST_F(IniConfigTest, IniHelperFailsWithoutAFile) {
  CBaseIniFile ini;
  EXPECT_FALSE(ini.Open(T("none.ini"), FALSE));
  Text out = u"\xbdpoison";
  EXPECT_FALSE(ini.ReadString(u"S", u"k", out));
  EXPECT_EQ(out, u"\xbdpoison");
  EXPECT_FALSE(ini.WriteString(u"S", u"k", u"v"));
  EXPECT_FALSE(fs::exists(P("none.ini")));
  EXPECT_TRUE(ini.Open(T("none.ini"), TRUE));
  EXPECT_EQ(TempHome::ReadAll(P("none.ini")), "");
  EXPECT_FALSE(ini.ReadString(u"S", u"k", out));  // an empty value is no value
  EXPECT_EQ(out, u"");
}

TEST_F(IniConfigTest, PythonReadsOurFiles) {
  ASSERT_TRUE(WriteConfig(T("ours.ini"), u"General", u"Name", u"Morvil \u00e9t\u00e9"));
  ASSERT_TRUE(WriteConfig(T("ours.ini"), u"General", u"count", u"42"));
  ASSERT_TRUE(WriteConfig(T("ours.ini"), u"Paths", u"home", u"C:\\x\\y"));
  ASSERT_TRUE(WriteConfig(T("ours.ini"), u"general", u"NAME", u"again"));
  std::string out = Python(
      "import configparser\n"
      "c = configparser.ConfigParser(interpolation=None)\n"
      "c.read('" +
      P("ours.ini") +
      "', encoding='utf-8')\n"
      "print(sorted(c.sections()))\n"
      "print(c['General']['name'], c['General']['count'], c['Paths']['home'])\n");
  EXPECT_EQ(out, "['General', 'Paths']\nagain 42 C:\\x\\y\n");
}

TEST_F(IniConfigTest, WeReadPythonsFiles) {
  std::string out = Python(
      "import configparser\n"
      "c = configparser.ConfigParser(interpolation=None)\n"
      "c['Main'] = {'Server': 'example.org', 'port': '8080', 'empty': ''}\n"
      "c['Other'] = {'text': 'caf\\u00e9 = ok'}\n"
      "with open('" +
      P("py.ini") +
      "', 'w', encoding='utf-8') as f:\n"
      "    c.write(f)\n"
      "print('done')\n");
  ASSERT_EQ(out, "done\n");
  EXPECT_EQ(ReadConfig(T("py.ini"), u"Main", u"Server"), u"example.org");
  EXPECT_EQ(ReadConfig(T("py.ini"), u"main", u"PORT"), u"8080");
  EXPECT_EQ(ReadConfig(T("py.ini"), u"Main", u"empty"), u"");
  EXPECT_EQ(ReadConfig(T("py.ini"), u"Other", u"text"), u"caf\u00e9 = ok");
  // And Python still reads the file after we change it.
  ASSERT_TRUE(WriteConfig(T("py.ini"), u"Main", u"port", u"9090"));
  ASSERT_TRUE(WriteConfig(T("py.ini"), u"Main", u"new", u"n"));
  out = Python(
      "import configparser\n"
      "c = configparser.ConfigParser(interpolation=None)\n"
      "c.read('" +
      P("py.ini") +
      "', encoding='utf-8')\n"
      "print(c['Main']['port'], c['Main']['new'], c['Main']['server'], c['Other']['text'])\n");
  EXPECT_EQ(out, "9090 n example.org caf\u00e9 = ok\n");
}

// Writers in several processes at once keep every key: each update is read-modify-write under
// the file's lock, and the file is never seen half written.
TEST_F(IniConfigTest, ConcurrentWritersKeepEveryKey) {
  constexpr int kWriters = 4, kKeys = 25;
  ASSERT_TRUE(WriteConfig(T("shared.ini"), u"S", u"start", u"1"));
  ExpectChildrenSucceed(kWriters, [&](int w) {
    int failures = 0;
    for (int k = 0; k < kKeys; ++k) {
      std::string key = "w" + std::to_string(w) + "k" + std::to_string(k);
      if (!WriteConfig(T("shared.ini"), u"S", FromUtf8(key), FromUtf8(key))) ++failures;
      if (ReadConfig(T("shared.ini"), u"S", u"start") != u"1") ++failures;
    }
    return failures;
  });
  for (int w = 0; w < kWriters; ++w) {
    for (int k = 0; k < kKeys; ++k) {
      Text key = FromUtf8("w" + std::to_string(w) + "k" + std::to_string(k));
      EXPECT_EQ(ReadConfig(T("shared.ini"), u"S", key), key);
    }
  }
  EXPECT_FALSE(FileExist(T("shared.ini.morvil-*")));  // no temporary file left behind
}

}  // namespace
