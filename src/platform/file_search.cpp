#include "platform/file_search.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <memory>

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// fnmatch with '[' made literal and no escapes: only '*' and '?' stay special.
bool Glob(std::string_view pattern, std::string_view name) {
  std::string escaped;
  for (char c : pattern) {
    if (c == '[')
      escaped += "[[]";
    else
      escaped += c;
  }
  return fnmatch(escaped.c_str(), std::string(name).c_str(), FNM_NOESCAPE) == 0;
}

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  if (Glob(pattern, name)) return true;
  if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*")
    return Glob(pattern.substr(0, pattern.size() - 2), name);
  return false;
}

std::optional<FoundEntry> FindFirstEntry(const std::string& path) {
  if (path.empty() || path.back() == '/') return std::nullopt;
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
  if (last.find_first_of("*?") == std::string::npos) {
    if (!Exists(path)) return std::nullopt;
    return FoundEntry{last, IsDirectory(path)};
  }
  std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
  if (!d) return std::nullopt;
  std::optional<std::string> best;
  auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
  while (struct dirent* e = readdir(d.get())) {
    std::string name = e->d_name;
    if (!MatchesWildcard(last, name)) continue;
    if (!best || rank(name) < rank(*best) || (rank(name) == rank(*best) && name < *best))
      best = std::move(name);
  }
  if (!best) return std::nullopt;
  std::string full = dir == "/" ? "/" + *best : dir + "/" + *best;
  return FoundEntry{*best, IsDirectory(full)};
}
