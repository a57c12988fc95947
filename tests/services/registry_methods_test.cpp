#include "services/registry_methods.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/registry_key.h"
#include "services/base_reg_key.h"
#include "support/temp_home.h"

namespace {

class RegistryMethodsTest : public ::testing::Test {
 protected:
  static bool KeyExists(RegistryRoot root, TextView subkey) {
    return static_cast<bool>(RegistryKey::OpenExisting(root, subkey));
  }
  static RegistryValue Stored(RegistryRoot root, TextView subkey, TextView name) {
    auto key = RegistryKey::OpenExisting(root, subkey);
    if (!key) return {};
    auto value = key->QueryValue(name);
    return value ? *value : RegistryValue{};
  }
  TempHome home_;
};

// Writes report success as false: callers rely on the reversed result.
TEST_F(RegistryMethodsTest, WriteThenReadStringWithReversedWriteResult) {
  EXPECT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\Software\\X", u"Name", u"h\u00e9llo \u4e16"));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\Software\\X", u"Name"), u"h\u00e9llo \u4e16");
  // Stored as REG_SZ with its terminating zero unit.
  RegistryValue v = Stored(RegistryRoot::kCurrentUser, u"Software\\X", u"Name");
  EXPECT_EQ(v.type, REG_SZ);
  EXPECT_EQ(v.data.size(), 8u * 2);
  EXPECT_EQ(v.data.substr(14), std::string(2, '\0'));
}

// Root names ignore letter case, '/' counts as '\', names of keys and values ignore case.
TEST_F(RegistryMethodsTest, SpellingsOfTheSameKeyAndValue) {
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\Software\\X", u"Name", u"v"));
  EXPECT_EQ(RegReadString(u"hkey_current_user\\Software\\X", u"Name"), u"v");
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER/Software/X", u"Name"), u"v");
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\SOFTWARE\\x", u"nAME"), u"v");
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\Software\\X\\", u"Name"), u"v");
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\software\\x", u"NAME", u"w"));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\Software\\X", u"Name"), u"w");
}

// Abbreviations and a root name without a separator name no root: nothing is read or created.
TEST_F(RegistryMethodsTest, UnknownRootsReachNothing) {
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\Software\\X", u"Name", u"v"));
  EXPECT_EQ(RegReadString(u"HKCU\\Software\\X", u"Name"), u"");
  EXPECT_FALSE(KeyExists(RegistryRoot::kCurrentUser, u"HKCU"));
  EXPECT_TRUE(RegWriteString(u"HKCU\\Software\\Y", u"Name", u"v"));
  EXPECT_TRUE(RegWriteInt(u"HKEY_CURRENT_USER", u"Name", 1));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER", u"Name"), u"");
  EXPECT_EQ(RegReadInt(u"HKCU\\Software\\X", u"Name"), 0);
  EXPECT_FALSE(KeyExists(RegistryRoot::kCurrentUser, u"Software\\Y"));
}

TEST_F(RegistryMethodsTest, ReadingAMissingKeyCreatesItEmpty) {
  EXPECT_FALSE(KeyExists(RegistryRoot::kCurrentUser, u"Software\\New\\Deep"));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\Software\\New\\Deep", u"Name"), u"");
  EXPECT_TRUE(KeyExists(RegistryRoot::kCurrentUser, u"Software\\New\\Deep"));
  EXPECT_EQ(RegReadInt(u"HKEY_CURRENT_USER\\Software\\New\\Deep", u"Name"), 0);
}

TEST_F(RegistryMethodsTest, IntegersKeepTheirBits) {
  EXPECT_FALSE(RegWriteInt(u"HKEY_CURRENT_USER\\Software\\X", u"N", -1));
  RegistryValue v = Stored(RegistryRoot::kCurrentUser, u"Software\\X", u"N");
  EXPECT_EQ(v, (RegistryValue{REG_DWORD, std::string(4, '\xff')}));
  EXPECT_EQ(RegReadInt(u"HKEY_CURRENT_USER\\Software\\X", u"N"), -1);
  EXPECT_FALSE(RegWriteInt(u"HKEY_CURRENT_USER\\Software\\X", u"N", INT32_MIN));
  EXPECT_EQ(RegReadInt(u"HKEY_CURRENT_USER\\Software\\X", u"N"), INT32_MIN);
  EXPECT_FALSE(RegWriteInt(u"HKEY_CURRENT_USER\\Software\\X", u"N", 0x01020304));
  EXPECT_EQ(Stored(RegistryRoot::kCurrentUser, u"Software\\X", u"N").data, "\x04\x03\x02\x01");
}

// A string read has room for 1024 bytes: 511 units and the terminator.
TEST_F(RegistryMethodsTest, StringsLongerThan511UnitsAreUnreadable) {
  Text fits(511, u'a'), too_long(512, u'b'), far_too_long(600, u'c');
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\S", u"fits", fits));
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\S", u"long", too_long));
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\S", u"longer", far_too_long));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\S", u"fits"), fits);
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\S", u"long"), u"");
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\S", u"longer"), u"");
  EXPECT_EQ(RegReadInt(u"HKEY_CURRENT_USER\\S", u"fits"), 0);
}

// Reads do not look at the type: a DWORD reads as text, a short string as a number.
TEST_F(RegistryMethodsTest, ReadsIgnoreTheValueType) {
  ASSERT_FALSE(RegWriteInt(u"HKEY_CURRENT_USER\\T", u"d", 0x41));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\T", u"d"), u"A");
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\T", u"s", u"B"));  // 42 00 00 00
  EXPECT_EQ(RegReadInt(u"HKEY_CURRENT_USER\\T", u"s"), 0x42);
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\T", u"s2", u"BC"));  // 6 bytes
  EXPECT_EQ(RegReadInt(u"HKEY_CURRENT_USER\\T", u"s2"), 0);
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\T", u"z", Text(u"ab\0cd", 5)));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\T", u"z"), u"ab");
}

TEST_F(RegistryMethodsTest, EmptyNameIsTheDefaultValue) {
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\D", u"", u"default"));
  ASSERT_FALSE(RegWriteString(u"HKEY_CURRENT_USER\\D", u"other", u"o"));
  EXPECT_EQ(RegReadString(u"HKEY_CURRENT_USER\\D", u""), u"default");
}

// Statuses of the helper; failed reads leave the output untouched.
TEST_F(RegistryMethodsTest, KeyHelperStatuses) {
  CBaseRegKey no_root;
  EXPECT_EQ(no_root.Open(u"HKCU\\x"), kRegKeyNoRoot);
  Text text = u"\xbdpoison";
  EXPECT_EQ(no_root.QueryString(u"v", text), kRegKeyOpenFailed);
  EXPECT_EQ(no_root.SetDword(u"v", 1), kRegKeyOpenFailed);

  CBaseRegKey bad;  // an empty key name inside the path
  EXPECT_EQ(bad.Open(u"HKEY_CURRENT_USER\\a\\\\b"), kRegKeyFailed);
  EXPECT_EQ(bad.QueryString(u"v", text), kRegKeyOpenFailed);
  EXPECT_EQ(bad.WriteString(u"v", u"x"), kRegKeyOpenFailed);

  CBaseRegKey good;
  EXPECT_EQ(good.Open(u"HKEY_CURRENT_USER\\a\\b"), kRegKeyDone);
  EXPECT_EQ(good.subkey(), u"a\\b");
  EXPECT_EQ(good.QueryString(u"v", text), kRegKeyFailed);
  EXPECT_EQ(text, u"\xbdpoison");
  DWORD number = 0xdeadbeef;
  EXPECT_EQ(good.QueryDword(u"v", number), kRegKeyFailed);
  EXPECT_EQ(number, 0xdeadbeefu);
  EXPECT_EQ(good.SetString(u"v", u"x"), kRegKeyDone);
  EXPECT_EQ(good.QueryString(u"v", text), kRegKeyDone);
  EXPECT_EQ(text, u"x");
}

// Lookup order and names of the root table; HKEY_USERS has a name of its own.
TEST_F(RegistryMethodsTest, RootTable) {
  std::span<const RegRootName> table = RegRootTable();
  ASSERT_EQ(table.size(), 5u);
  const uint32_t handles[] = {0x80000000, 0x80000001, 0x80000002, 0x80000003, 0x80000005};
  for (size_t i = 0; i < table.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(static_cast<uint32_t>(table[i].root), handles[i]);
    CBaseRegKey key;
    Text lower = table[i].name;
    for (char16_t& c : lower) c = static_cast<char16_t>(std::tolower(c));
    (void)key.Open(lower + u"\\k");
    ASSERT_TRUE(key.root().has_value());
    EXPECT_EQ(*key.root(), table[i].root);
  }
}

// The machine roots are separate trees of one store; the user root has its own store.
TEST_F(RegistryMethodsTest, RootsAreSeparateTrees) {
  if (geteuid() != 0) GTEST_SKIP() << "writing the machine store needs root";
  const char16_t* roots[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE",
                             u"HKEY_USERS", u"HKEY_CURRENT_CONFIG"};
  for (const char16_t* root : roots)
    ASSERT_FALSE(RegWriteString(Text(root) + u"\\K", u"who", root));
  for (const char16_t* root : roots) EXPECT_EQ(RegReadString(Text(root) + u"\\K", u"who"), root);
  EXPECT_TRUE(std::filesystem::exists(home_.path("registry/user.db")));
  EXPECT_TRUE(std::filesystem::exists(home_.path("registry/machine.db")));
}

// Other users read the machine store but cannot change it.
TEST_F(RegistryMethodsTest, MachineStoreIsReadOnlyForOtherUsers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to write the store and to drop privileges";
  ASSERT_FALSE(RegWriteString(u"HKEY_LOCAL_MACHINE\\Software\\M", u"v", u"machine"));
  std::string user_dir = home_.path("nobody");
  std::filesystem::create_directories(user_dir);
  ASSERT_EQ(chown(user_dir.c_str(), 65534, 65534), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("XDG_CONFIG_HOME", user_dir.c_str(), 1);
    setenv("MORVIL_REGISTRY_DIR", (home_.root() + "/registry").c_str(), 1);
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(10);
    if (RegReadString(u"HKEY_LOCAL_MACHINE\\Software\\M", u"v") != u"machine") _exit(11);
    if (!RegWriteString(u"HKEY_LOCAL_MACHINE\\Software\\M", u"v", u"user")) _exit(12);
    if (!RegWriteInt(u"HKEY_LOCAL_MACHINE\\Software\\New", u"v", 1)) _exit(13);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(RegReadString(u"HKEY_LOCAL_MACHINE\\Software\\M", u"v"), u"machine");
}

}  // namespace
