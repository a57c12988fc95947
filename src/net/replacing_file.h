// A new version of a file, written to a temporary file beside it and put in its place only when
// complete, so that a failed write never destroys the file it would have replaced.
// Not thread-safe; one writer.
#pragma once

#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

class ReplacingFile {
 public:
  // Creates the temporary file in the directory of the file `path` names (a symbolic link is
  // followed: the file it names is replaced, the link stays).
  [[nodiscard]] static Result<ReplacingFile> Create(std::string path);
  ReplacingFile(ReplacingFile&&) noexcept = default;
  ReplacingFile& operator=(ReplacingFile&&) noexcept = default;
  ~ReplacingFile();  // removes the temporary file unless committed

  [[nodiscard]] Result<void> Write(const char* data, size_t size);
  // Gives the file the permissions (and, where allowed, owner and group) of the file it
  // replaces, or the usual ones of a new file, and renames it over the target.
  [[nodiscard]] Result<void> Commit();

 private:
  ReplacingFile(std::string target, std::string temp, UniqueFd fd);
  std::string target_;
  std::string temp_;
  UniqueFd fd_;
};
