#include "services/pairs.h"

PairStore& ProcessPairStore() {
  static PairStore* store = new PairStore;
  return *store;
}

void InsertPair(const Text& key, const Text& value) {
  StorePair(key, value);
}

Text GetPair(const Text& key) {
  return LookupPair(key).second;
}

std::pair<Text, Text> LookupPair(const Text& key) {
  return ProcessPairStore().Lookup(key);
}

void StorePair(const Text& key, const Text& value) {
  ProcessPairStore().Store(key, value);
}
