#include "platform/file_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/unique_fd.h"
#include "platform/config_directory.h"
#include "platform/file_replacement.h"

namespace {

struct DirCloser {
  void operator()(DIR* d) const { closedir(d); }
};

Result<void> CopyFileExclusively(const std::string& from, const std::string& to) {
  UniqueFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!in) return Error::FromErrno("open " + from);
  struct stat st;
  if (fstat(in.get(), &st) != 0) return Error::FromErrno("fstat");
  if (!S_ISREG(st.st_mode)) return Error{EXDEV, "only files move across file systems"};
  UniqueFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777));
  if (!out) return Error::FromErrno("create " + to);
  char buf[65536];
  for (;;) {
    ssize_t n = read(in.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      unlink(to.c_str());
      return Error::FromErrno("read");
    }
    if (n == 0) break;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out.get(), buf + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) {
        unlink(to.c_str());
        return Error::FromErrno("write");
      }
      done += w;
    }
  }
  if (fsync(out.get()) != 0) {
    unlink(to.c_str());
    return Error::FromErrno("fsync");
  }
  return {};
}

}  // namespace

Result<void> DeleteOneFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return Error::FromErrno("lstat " + path);
  if (S_ISDIR(st.st_mode)) return Error{EISDIR, "directory: " + path};
  if (IsReadOnlyMode(st.st_mode)) return Error{EACCES, "read-only: " + path};
  if (unlink(path.c_str()) != 0) return Error::FromErrno("unlink " + path);
  return {};
}

Result<void> MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
  if (errno == EINVAL) {
    // The file system cannot refuse replacing by itself: check, then rename.
    struct stat st;
    if (lstat(to.c_str(), &st) == 0) return Error{EEXIST, "exists: " + to};
    if (rename(from.c_str(), to.c_str()) == 0) return {};
  }
  if (errno != EXDEV) return Error::FromErrno("rename " + from);
  if (auto r = CopyFileExclusively(from, to); !r) return r;
  if (unlink(from.c_str()) != 0) {
    Error e = Error::FromErrno("unlink " + from);
    unlink(to.c_str());
    return e;
  }
  return {};
}

bool PathExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

Result<std::vector<DirectoryEntry>> ListDirectory(const std::string& dir) {
  std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
  if (!d) return Error::FromErrno("opendir " + dir);
  std::vector<DirectoryEntry> entries;
  for (;;) {
    errno = 0;
    struct dirent* e = readdir(d.get());
    if (!e) break;
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    bool is_dir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN) {
      struct stat st;
      is_dir = fstatat(dirfd(d.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
               S_ISDIR(st.st_mode);
    }
    entries.push_back({std::move(name), is_dir});
  }
  if (errno != 0) return Error::FromErrno("readdir " + dir);
  return entries;
}

Result<void> MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), NewDirectoryMode(path)) != 0) return Error::FromErrno("mkdir " + path);
  return {};
}

Result<void> RemoveEmptyDirectory(const std::string& path) {
  if (rmdir(path.c_str()) != 0) return Error::FromErrno("rmdir " + path);
  return {};
}
