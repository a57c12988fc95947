// A find-first-file search, as the platform's file search behaves: the last component of the
// path may hold the wildcards '*' (any run of characters, leading dots included) and '?' (one
// character); every other character, '[' included, matches itself; a pattern ending in ".*" also
// matches names without that extension, so "*.*" matches every name. Without wildcards the path
// must name an existing entry; a path ending in '/' finds nothing. Names match with letter case
// as the file system keeps it.
//
// Entries come in a fixed order: "." and ".." first where they match, then by name (bytes).
// Blocking local I/O; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct FoundEntry {
  std::string name;           // the entry's own name, without its directory
  bool is_directory = false;  // the entry, or what its symbolic link points at, is a directory
};

[[nodiscard]] std::optional<FoundEntry> FindFirstEntry(const std::string& path);

// True when `name` matches the wildcard `pattern` by the rules above.
[[nodiscard]] bool MatchesWildcard(std::string_view pattern, std::string_view name);
