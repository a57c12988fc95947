#include "services/pair_store.h"

void PairStore::Store(const Text& key, const Text& value) {
  std::lock_guard lock(mutex_);
  pairs_.insert_or_assign(key, value);
}

std::pair<Text, Text> PairStore::Lookup(const Text& key) const {
  std::lock_guard lock(mutex_);
  auto it = pairs_.find(key);
  if (it == pairs_.end()) return {};
  return *it;
}
