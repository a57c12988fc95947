#include "platform/local_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

Result<void> LocalFile::OpenPath(const std::string& path, uint32_t flags) {
  Close();
  int access = (flags & modeReadWrite) ? O_RDWR : (flags & modeWrite) ? O_WRONLY : O_RDONLY;
  int oflags = access | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (flags & modeCreate) oflags |= O_CREAT;
  UniqueFd fd(open(path.c_str(), oflags, 0666));
  if (!fd) return Error::FromErrno("open " + path);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return Error::FromErrno("fstat");
  if (!S_ISREG(st.st_mode)) return Error{S_ISDIR(st.st_mode) ? EISDIR : EINVAL, "not a file"};
  uint32_t share = flags & 0x0070;
  if (share != shareDenyNone) {
    int op = (share == shareDenyWrite ? LOCK_SH : LOCK_EX) | LOCK_NB;
    if (flock(fd.get(), op) != 0) return Error::FromErrno("flock " + path);
  }
  if ((flags & modeCreate) && !(flags & modeNoTruncate) && ftruncate(fd.get(), 0) != 0)
    return Error::FromErrno("ftruncate");
  int fl = fcntl(fd.get(), F_GETFL);
  if (fl >= 0) fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
  fd_ = std::move(fd);
  return {};
}

Result<size_t> LocalFile::Read(void* buffer, size_t count) {
  for (;;) {
    ssize_t n = read(fd_.get(), buffer, count);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno != EINTR) return Error::FromErrno("read");
  }
}

Result<void> LocalFile::Write(const void* data, size_t count) {
  const char* p = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t n = write(fd_.get(), p, count);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::FromErrno("write");
    }
    p += n;
    count -= static_cast<size_t>(n);
  }
  return {};
}

Result<uint64_t> LocalFile::SeekToEnd() {
  off_t pos = lseek(fd_.get(), 0, SEEK_END);
  if (pos < 0) return Error::FromErrno("lseek");
  return static_cast<uint64_t>(pos);
}

Result<uint64_t> LocalFile::SeekToBegin() {
  off_t pos = lseek(fd_.get(), 0, SEEK_SET);
  if (pos < 0) return Error::FromErrno("lseek");
  return static_cast<uint64_t>(pos);
}

Result<uint64_t> LocalFile::GetLength() const {
  struct stat st;
  if (fstat(fd_.get(), &st) != 0) return Error::FromErrno("fstat");
  return static_cast<uint64_t>(st.st_size);
}
