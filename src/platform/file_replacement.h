// Replaces a file's whole content so that a crash never leaves half a file: the new content goes
// to a temporary file beside it, is flushed to disk and renamed over the old one. Readers see the
// old or the new file, never a mix.
//
// While the replacement is prepared, the old file (when there is one) is held under an exclusive
// flock(2), the lock that every "no sharing" open of ours takes; the new file is locked before it
// appears under the name, and stays locked until this object is destroyed. So another process
// that holds the file open without sharing makes Begin fail (or wait, with kBriefly), and two
// read-modify-write updates never interleave.
//
// The new file keeps the old one's permission bits, owner and group (a new one gets 0666 less the
// umask); a symbolic link is followed and its target replaced. Where a replacement would lose
// something, the old file is written in place instead, with the same bytes: when its folder
// cannot be written (no temporary file can go beside it), when it has further hard links, and
// when its owner or group cannot be given to a new file (someone else's file that we may
// write). A file without write permission for its owner counts as read-only and is refused, as
// the platform refuses to write a read-only file. Blocking local I/O; one object per update,
// any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "base/result.h"
#include "base/unique_fd.h"

class FileReplacement {
 public:
  enum class LockWait { kNo, kBriefly };  // kBriefly waits up to two seconds for a lock

  // Locks the current file at `path`, if any. Fails when `path` names something other than a
  // regular file, a read-only file, or a file locked by someone else.
  [[nodiscard]] static Result<FileReplacement> Begin(const std::string& path, LockWait wait);

  FileReplacement(FileReplacement&&) noexcept;
  FileReplacement& operator=(FileReplacement&&) noexcept;
  ~FileReplacement();

  [[nodiscard]] bool existed() const { return old_.valid(); }
  // The current content; empty when there was no file.
  [[nodiscard]] Result<std::string> ReadCurrent();
  // Writes `bytes` as the file's new content. At most once per object.
  [[nodiscard]] Result<void> Commit(std::string_view bytes);

 private:
  struct OldFile {
    unsigned mode = 0;
    long owner = -1;  // -1: no old file
    long group = -1;
    unsigned long links = 0;
    unsigned long long device = 0, inode = 0;
  };
  FileReplacement(std::string target, UniqueFd old, const OldFile& info);
  // Puts a complete new file in the old one's place. Sets `in_place_instead` (and writes
  // nothing) when only an in-place write keeps what the old file is.
  [[nodiscard]] Result<void> Replace(std::string_view bytes, bool& in_place_instead);
  [[nodiscard]] Result<void> WriteInPlace(std::string_view bytes);
  std::string target_;  // the path that is replaced (a link's target)
  UniqueFd old_;
  UniqueFd new_;  // the file now under the name, held locked; set once committed
  OldFile info_;
};

// The file a path finally names: symbolic links followed, even when their target is missing.
[[nodiscard]] std::string ResolveSymbolicLinks(const std::string& path);
// flock(LOCK_EX) on `fd`, without waiting or waiting up to two seconds.
[[nodiscard]] bool LockExclusively(int fd, FileReplacement::LockWait wait);
// A regular file whose owner may not write it.
[[nodiscard]] bool IsReadOnlyMode(unsigned mode);
