// A new version of a file, written to a temporary file beside it and put in its place only when
// complete, so that a failed write never destroys the file it would have replaced.
// Not thread-safe; one writer.
#pragma once

#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

class ReplacingFile {
 public:
  // Creates the temporary file in the target's directory.
  [[nodiscard]] static Result<ReplacingFile> Create(std::string target);
  ReplacingFile(ReplacingFile&&) noexcept = default;
  ReplacingFile& operator=(ReplacingFile&&) noexcept = default;
  ~ReplacingFile();  // removes the temporary file unless committed

  [[nodiscard]] Result<void> Write(const char* data, size_t size);
  // Gives the file the usual permissions of a new file and renames it over the target.
  [[nodiscard]] Result<void> Commit();

 private:
  ReplacingFile(std::string target, std::string temp, UniqueFd fd);
  std::string target_;
  std::string temp_;
  UniqueFd fd_;
};
