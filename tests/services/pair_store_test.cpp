#include "services/pair_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "services/pairs.h"

TEST(PairStoreTest, StoringAgainReplaces) {
  PairStore store;
  store.Store(u"acc.proxy_port", u"8080");
  store.Store(u"acc.proxy_port", u"9090");
  EXPECT_EQ(store.Lookup(u"acc.proxy_port"),
            std::make_pair(Text(u"acc.proxy_port"), Text(u"9090")));
}

// Keys compare exactly: letter case and blanks count; empty keys and values are allowed.
TEST(PairStoreTest, KeysCompareCodeUnitByCodeUnit) {
  PairStore store;
  store.Store(u"acc.proxy_port", u"8080");
  store.Store(u" acc.proxy_port ", u"padded");
  store.Store(u"", u"empty key");
  store.Store(u"empty value", u"");
  EXPECT_EQ(store.Lookup(u"ACC.PROXY_PORT"), std::make_pair(Text(), Text()));
  EXPECT_EQ(store.Lookup(u"acc.proxy_port").second, u"8080");
  EXPECT_EQ(store.Lookup(u" acc.proxy_port ").second, u"padded");
  EXPECT_EQ(store.Lookup(u"acc.proxy_port ").second, u"");
  EXPECT_EQ(store.Lookup(u"").second, u"empty key");
  EXPECT_EQ(store.Lookup(u"empty value"), std::make_pair(Text(u"empty value"), Text()));
  EXPECT_EQ(store.Lookup(u"never"), std::make_pair(Text(), Text()));
}

TEST(PairStoreTest, ScriptMethodsUseTheProcessStore) {
  EXPECT_EQ(GetPair(u"test.never.inserted"), u"");
  InsertPair(u"test.key", u"one");
  InsertPair(u"test.key", u"two");
  EXPECT_EQ(GetPair(u"test.key"), u"two");
  EXPECT_EQ(LookupPair(u"test.key"), std::make_pair(Text(u"test.key"), Text(u"two")));
  StorePair(u"test.key", u"three");
  EXPECT_EQ(ProcessPairStore().Lookup(u"test.key").second, u"three");
}

// A writer and a reader on two threads: every lookup sees one whole value that was stored, and
// values only move forward.
TEST(PairStoreTest, ConcurrentStoreAndLookup) {
  PairStore store;
  constexpr int kRounds = 20000;
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 1; i <= kRounds; ++i) {
      Text value = ToText(i) + u"," + Text(static_cast<size_t>(i % 64), u'x');
      store.Store(u"k", value);
      store.Store(ToText(i % 100), value);
    }
    done = true;
  });
  long last = 0;
  int lookups = 0;
  while (!done || lookups == 0) {
    auto [key, value] = store.Lookup(u"k");
    ++lookups;
    if (key.empty()) continue;
    size_t comma = value.find(u',');
    ASSERT_NE(comma, Text::npos);
    long n = std::stol(ToUtf8(value.substr(0, comma)));
    ASSERT_EQ(value.size() - comma - 1, static_cast<size_t>(n % 64));
    ASSERT_GE(n, last);
    last = n;
  }
  writer.join();
  EXPECT_EQ(store.Lookup(u"k").second.substr(0, 6), u"20000,");
}
