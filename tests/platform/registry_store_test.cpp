#include "platform/registry_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "support/child_processes.h"
#include "support/temp_home.h"

namespace {

Text Units(const std::string& ascii) {
  return Text(ascii.begin(), ascii.end());
}

// Runs the sqlite3 shell on `db` and returns what it prints.
std::string Sqlite(const std::string& db, const std::string& sql) {
  std::string cmd = "sqlite3 '" + db + "' '" + sql + "' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "popen failed";
  std::string out;
  char buf[256];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  pclose(p);
  return out;
}

class RegistryStoreTest : public ::testing::Test {
 protected:
  std::string UserDb() const { return home_.path("registry/user.db"); }
  TempHome home_;
};

TEST_F(RegistryStoreTest, StoresKeepTheirJournalModeAndPrivacy) {
  ASSERT_TRUE(RegistryKey::Create(RegistryRoot::kCurrentUser, u"a"));
  EXPECT_EQ(Sqlite(UserDb(), "PRAGMA journal_mode"), "wal\n");
  struct stat st {};
  ASSERT_EQ(stat(UserDb().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  if (geteuid() == 0) {
    ASSERT_TRUE(RegistryKey::Create(RegistryRoot::kLocalMachine, u"a"));
    EXPECT_EQ(Sqlite(home_.path("registry/machine.db"), "PRAGMA journal_mode"), "delete\n");
  }
}

// Without the relocation variable the user store follows XDG_CONFIG_HOME.
TEST_F(RegistryStoreTest, UserStoreLivesInTheConfigDirectory) {
  unsetenv("MORVIL_REGISTRY_DIR");
  EXPECT_EQ(RegistryKey::StorePath(RegistryRoot::kCurrentUser),
            home_.path("config/morvil/registry.db"));
  EXPECT_EQ(RegistryKey::StorePath(RegistryRoot::kLocalMachine), "/var/lib/morvil/registry.db");
  auto key = RegistryKey::Create(RegistryRoot::kCurrentUser, u"Software");
  ASSERT_TRUE(key);
  EXPECT_TRUE(std::filesystem::exists(home_.path("config/morvil/registry.db")));
}

// Values keep type and bytes exactly, zero bytes and odd lengths included.
TEST_F(RegistryStoreTest, ValuesKeepTypeAndBytes) {
  auto key = RegistryKey::Create(RegistryRoot::kCurrentUser, u"Software\\Bytes");
  ASSERT_TRUE(key);
  const RegistryValue values[] = {{REG_SZ, std::string("a\0b\0\0", 5)},
                                  {REG_DWORD, std::string("\0\0\0\x80", 4)},
                                  {3, ""},
                                  {7, std::string(3000, '\xbd')}};
  for (size_t i = 0; i < std::size(values); ++i) {
    SCOPED_TRACE(i);
    ASSERT_TRUE(key->SetValue(u"v", values[i]));
    auto read = key->QueryValue(u"V");
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, values[i]);
  }
}

TEST_F(RegistryStoreTest, NamesFoldBeyondAscii) {
  EXPECT_EQ(RegistryStore::FoldName(u"Stra\u00dfe \u00e4\u03b1z"), u"STRA\u00dfE \u00c4\u0391Z");
  auto key = RegistryKey::Create(RegistryRoot::kCurrentUser, u"\u00e4rger");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->SetValue(u"\u00e9t\u00e9", RegistryValue{REG_SZ, "x"}));
  auto same = RegistryKey::OpenExisting(RegistryRoot::kCurrentUser, u"\u00c4RGER");
  ASSERT_TRUE(same);
  EXPECT_TRUE(same->QueryValue(u"\u00c9T\u00c9"));
}

TEST_F(RegistryStoreTest, BadPathsAndMissingKeys) {
  auto missing = RegistryKey::OpenExisting(RegistryRoot::kCurrentUser, u"no\\such");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().code, kRegistryNotFound);
  for (const char16_t* bad : {u"\\lead", u"a\\\\b", u"a\\\\"}) {
    SCOPED_TRACE(ToUtf8(bad));
    auto key = RegistryKey::Create(RegistryRoot::kCurrentUser, bad);
    ASSERT_FALSE(key);
    EXPECT_EQ(key.error().code, kRegistryBadPath);
  }
  EXPECT_FALSE(RegistryKey::Create(RegistryRoot::kCurrentUser, Text(256, u'k')));
  EXPECT_TRUE(RegistryKey::Create(RegistryRoot::kCurrentUser, Text(255, u'k')));
}

// Deleting a key takes its values and its whole subtree, and nothing beside it.
TEST_F(RegistryStoreTest, DeleteKeyRemovesItsSubtreeOnly) {
  const RegistryValue v{REG_SZ, "x"};
  for (const char16_t* path : {u"Soft\\App", u"Soft\\App\\Deep\\Er", u"Soft\\Apple", u"Soft"}) {
    auto key = RegistryKey::Create(RegistryRoot::kCurrentUser, path);
    ASSERT_TRUE(key);
    ASSERT_TRUE(key->SetValue(u"v", v));
  }
  ASSERT_TRUE(RegistryKey::Delete(RegistryRoot::kCurrentUser, u"SOFT\\app"));
  for (const char16_t* gone : {u"Soft\\App", u"Soft\\App\\Deep", u"Soft\\App\\Deep\\Er"}) {
    auto key = RegistryKey::OpenExisting(RegistryRoot::kCurrentUser, gone);
    ASSERT_FALSE(key) << ToUtf8(gone);
    EXPECT_EQ(key.error().code, kRegistryNotFound);
  }
  for (const char16_t* kept : {u"Soft", u"Soft\\Apple"}) {
    auto key = RegistryKey::OpenExisting(RegistryRoot::kCurrentUser, kept);
    ASSERT_TRUE(key) << ToUtf8(kept);
    EXPECT_TRUE(key->QueryValue(u"v"));
  }
  // No value of the deleted keys is left behind, and a second delete finds nothing.
  EXPECT_EQ(Sqlite(UserDb(), "SELECT count(*) FROM key_values"), "2\n");
  auto again = RegistryKey::Delete(RegistryRoot::kCurrentUser, u"Soft\\App");
  ASSERT_FALSE(again);
  EXPECT_EQ(again.error().code, kRegistryNotFound);
  // A machine store that does not exist is not created to delete from it.
  auto machine = RegistryKey::Delete(RegistryRoot::kLocalMachine, u"Soft");
  ASSERT_FALSE(machine);
  EXPECT_EQ(machine.error().code, kRegistryNotFound);
  EXPECT_FALSE(std::filesystem::exists(home_.path("registry/machine.db")));
}

// Several processes creating the same keys and writing at once lose nothing.
TEST_F(RegistryStoreTest, ConcurrentWriterProcessesLoseNothing) {
  constexpr int kWriters = 4, kValues = 60;
  ExpectChildrenSucceed(kWriters, [&](int w) {
    int failures = 0;
    for (int i = 0; i < kValues; ++i) {
      // Every writer creates the same shared keys and a key of its own.
      auto shared = RegistryKey::Create(RegistryRoot::kCurrentUser, u"Shared\\Deep");
      auto own = RegistryKey::Create(RegistryRoot::kCurrentUser, Units("W" + std::to_string(w)));
      if (!shared || !own) {
        ++failures;
        continue;
      }
      std::string n = std::to_string(w) + "-" + std::to_string(i);
      if (!shared->SetValue(Units(n), RegistryValue{REG_SZ, n})) ++failures;
      if (!own->SetValue(Units(std::to_string(i)), RegistryValue{REG_DWORD, n})) ++failures;
    }
    return failures;
  });
  auto shared = RegistryKey::OpenExisting(RegistryRoot::kCurrentUser, u"Shared\\Deep");
  ASSERT_TRUE(shared);
  for (int w = 0; w < kWriters; ++w) {
    auto own =
        RegistryKey::OpenExisting(RegistryRoot::kCurrentUser, Units("w" + std::to_string(w)));
    ASSERT_TRUE(own);
    for (int i = 0; i < kValues; ++i) {
      std::string n = std::to_string(w) + "-" + std::to_string(i);
      auto a = shared->QueryValue(Units(n));
      auto b = own->QueryValue(Units(std::to_string(i)));
      ASSERT_TRUE(a && b) << n;
      EXPECT_EQ(a->data, n);
      EXPECT_EQ(b->data, n);
    }
  }
  EXPECT_EQ(Sqlite(UserDb(), "SELECT count(*) FROM keys"), "7\n");  // hive, Shared, Deep, W0..W3
}

// A writer killed at random moments leaves a sound store that holds every committed value.
TEST_F(RegistryStoreTest, WriterKilledMidWriteKeepsEveryCommittedValue) {
  int next = 0;
  for (int round = 0; round < 6; ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      for (int i = next;; ++i) {
        auto key = RegistryKey::Create(RegistryRoot::kCurrentUser,
                                       Units("Kill\\K" + std::to_string(i % 7)));
        if (!key) _exit(1);
        std::string payload(100 + (i % 50) * 40, static_cast<char>('a' + i % 26));
        if (!key->SetValue(Units("v" + std::to_string(i)), RegistryValue{REG_SZ, payload}))
          _exit(2);
        // Tell the parent that value i is committed.
        if (write(fds[1], &i, sizeof i) != sizeof i) _exit(3);
      }
    }
    close(fds[1]);
    // The kill comes at a varying moment after the writer's first commit (on a loaded machine
    // that first commit alone can take longer than the whole delay).
    int committed = -1, i = 0;
    if (read(fds[0], &i, sizeof i) == sizeof i) committed = i;
    usleep(20000 + round * 7000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer stopped by itself: " << WEXITSTATUS(status);
    while (read(fds[0], &i, sizeof i) == sizeof i) committed = i;
    close(fds[0]);
    ASSERT_GE(committed, next) << "round " << round << " committed nothing";
    for (int v = 0; v <= committed; ++v) {
      auto key = RegistryKey::OpenExisting(RegistryRoot::kCurrentUser,
                                           Units("Kill\\K" + std::to_string(v % 7)));
      ASSERT_TRUE(key) << v;
      auto value = key->QueryValue(Units("v" + std::to_string(v)));
      ASSERT_TRUE(value) << v;
      EXPECT_EQ(value->data.size(), 100u + (v % 50) * 40) << v;
    }
    next = committed + 1;
  }
  EXPECT_EQ(Sqlite(UserDb(), "PRAGMA integrity_check"), "ok\n");
}

}  // namespace
