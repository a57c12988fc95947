// File and directory operations with the platform's rules, on '/'-separated UTF-8 paths.
// Blocking local I/O; thread-safe. Errors carry errno values.
#pragma once

#include <string>
#include <vector>

#include "base/result.h"

// Removes a file (a symbolic link itself, never its target). A directory is refused (EISDIR),
// and so is a read-only file, one whose owner lacks write permission (EACCES).
[[nodiscard]] Result<void> DeleteOneFile(const std::string& path);

// Moves a file or directory; an existing destination is never replaced (EEXIST). A file moves
// across file systems by copying (content and permission bits) and removing the source; a
// directory does not (EXDEV).
[[nodiscard]] Result<void> MoveWithoutReplacing(const std::string& from, const std::string& to);

// True when the path names an existing entry (a symbolic link counts by its target).
[[nodiscard]] bool PathExists(const std::string& path);

struct DirectoryEntry {
  std::string name;
  bool is_directory = false;  // a real directory; a symbolic link to one is not
};
// The entries of a directory without "." and "..", in the order the file system gives them.
[[nodiscard]] Result<std::vector<DirectoryEntry>> ListDirectory(const std::string& dir);

// mkdir(2) with 0777 less the umask; EEXIST when the path exists.
[[nodiscard]] Result<void> MakeDirectory(const std::string& path);
// rmdir(2): only an empty directory goes.
[[nodiscard]] Result<void> RemoveEmptyDirectory(const std::string& path);
