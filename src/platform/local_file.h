// An open file with the platform file class's open modes. Sharing is an advisory flock(2) that
// every open of ours honours: shareDenyNone takes no lock, shareDenyWrite a shared lock, every
// other share mode (shareExclusive, the default) an exclusive one; a lock held elsewhere makes
// Open fail at once. modeCreate truncates only after the lock is held, so a refused open never
// harms the file. Only regular files open (a directory or a FIFO fails).
// Blocking local I/O; not thread-safe; the file closes with the object.
#pragma once

#include <cstdint>
#include <string>

#include "base/result.h"
#include "base/unique_fd.h"

class LocalFile {
 public:
  enum OpenFlags : uint32_t {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
  };

  LocalFile() = default;
  LocalFile(LocalFile&&) noexcept = default;
  LocalFile& operator=(LocalFile&&) noexcept = default;
  virtual ~LocalFile() = default;

  // Opens `path` (UTF-8, '/' separators); closes a file already open first.
  [[nodiscard]] Result<void> OpenPath(const std::string& path, uint32_t flags);
  void Close() { fd_.reset(); }
  [[nodiscard]] bool IsOpen() const { return fd_.valid(); }

  // Up to `count` bytes; 0 at the end of the file.
  [[nodiscard]] Result<size_t> Read(void* buffer, size_t count);
  // All `count` bytes, or an error.
  [[nodiscard]] Result<void> Write(const void* data, size_t count);
  // The new position.
  [[nodiscard]] Result<uint64_t> SeekToEnd();
  [[nodiscard]] Result<uint64_t> SeekToBegin();
  [[nodiscard]] Result<uint64_t> GetLength() const;

 private:
  UniqueFd fd_;
};
