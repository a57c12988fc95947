// A list of pipe names and their handles. A lookup takes the first entry whose name equals the
// given one code unit by code unit (letter case counts, although two such names reach the same
// pipe). Recording a name again replaces that entry's handle and releases the previous one, which
// nothing could reach any more; entries are never removed. Not thread-safe.
#pragma once

#include <vector>

#include "base/text.h"

template <typename Handle>
class NamedPipeTable {
 public:
  struct NamedPipeEntry {
    Text name;
    Handle handle;
  };

  // The handle recorded under `name`, or nullptr.
  [[nodiscard]] Handle* Find(TextView name) {
    for (NamedPipeEntry& entry : entries_)
      if (entry.name == name) return &entry.handle;
    return nullptr;
  }

  void Record(TextView name, Handle handle) {
    if (Handle* existing = Find(name)) {
      *existing = std::move(handle);
      return;
    }
    entries_.push_back(NamedPipeEntry{Text(name), std::move(handle)});
  }

 private:
  std::vector<NamedPipeEntry> entries_;
};
