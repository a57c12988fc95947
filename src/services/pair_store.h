// An ordered map from key text to value text. Keys compare code unit by code unit (letter case
// and blanks count); storing a key again replaces its value; nothing is ever removed.
// Thread-safe: each operation holds the store's lock for its whole length and never calls out
// while holding it; lookups return copies.
#pragma once

#include <map>
#include <mutex>
#include <utility>

#include "base/text.h"

class PairStore {
 public:
  // Stores `value` under `key`, replacing an earlier value.
  void Store(const Text& key, const Text& value);
  // The key and its value; two empty texts when the key is absent.
  [[nodiscard]] std::pair<Text, Text> Lookup(const Text& key) const;

 private:
  mutable std::mutex mutex_;
  std::map<Text, Text> pairs_;
};
