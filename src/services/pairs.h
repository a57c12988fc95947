// The process-wide pair store: named texts that page script hands to the native side (the
// acceleration settings "acc.processes", "acc.proxy_server", "acc.proxy_port",
// "acc.proxy_token"). Lives in memory only, empty at every start. Safe from any thread: page
// script writes on the window thread while the acceleration server reads on its own.
#pragma once

#include <utility>

#include "base/text.h"
#include "services/pair_store.h"

// The store itself; never destroyed, so a thread still running at exit can use it.
[[nodiscard]] PairStore& ProcessPairStore();

// Script method: stores `value` under `key`, replacing any earlier value.
void InsertPair(const Text& key, const Text& value);
// Script method: the value under `key`, or the empty text when there is none.
[[nodiscard]] Text GetPair(const Text& key);

// The key and its value, or two empty texts.
[[nodiscard]] std::pair<Text, Text> LookupPair(const Text& key);
void StorePair(const Text& key, const Text& value);
