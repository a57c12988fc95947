#include "platform/file_replacement.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace {

constexpr auto kLockPatience = std::chrono::seconds(2);

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ResolveSymbolicLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    char buf[PATH_MAX];
    ssize_t n = readlink(current.c_str(), buf, sizeof buf - 1);
    if (n < 0) return current;
    std::string target(buf, static_cast<size_t>(n));
    current = target.front() == '/' ? target : DirectoryOf(current) + "/" + target;
  }
  return current;
}

namespace {

Result<void> WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::FromErrno("write");
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

std::string TempNameBeside(const std::string& target) {
  static thread_local std::mt19937_64 rng(std::random_device{}());
  return target + ".morvil-" + std::to_string(rng() % 1000000000000ULL) + ".tmp";
}

// The process's umask, read without changing it (umask(2) would, for every thread at once).
unsigned CurrentUmask() {
  FILE* f = fopen("/proc/self/status", "re");
  if (!f) return 022;
  unsigned mask = 022;
  char line[256];
  while (fgets(line, sizeof line, f)) {
    if (sscanf(line, "Umask: %o", &mask) == 1) break;
  }
  fclose(f);
  return mask;
}

}  // namespace

bool LockExclusively(int fd, FileReplacement::LockWait wait) {
  auto deadline = std::chrono::steady_clock::now() + kLockPatience;
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    if (wait == FileReplacement::LockWait::kNo || std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool IsReadOnlyMode(unsigned mode) {
  return S_ISREG(mode) && (mode & S_IWUSR) == 0;
}

FileReplacement::FileReplacement(std::string target, UniqueFd old, const OldFile& info)
    : target_(std::move(target)), old_(std::move(old)), info_(info) {}
FileReplacement::FileReplacement(FileReplacement&&) noexcept = default;
FileReplacement& FileReplacement::operator=(FileReplacement&&) noexcept = default;
FileReplacement::~FileReplacement() = default;

Result<FileReplacement> FileReplacement::Begin(const std::string& path, LockWait wait) {
  std::string target = ResolveSymbolicLinks(path);
  // The lock must sit on the file that is under the name now: another update may rename a new
  // file in while we wait, and then we lock that one instead.
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd fd(open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
      if (errno != ENOENT) return Error::FromErrno("open " + target);
      return FileReplacement(target, UniqueFd(), OldFile{0666 & ~CurrentUmask()});
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return Error::FromErrno("fstat");
    if (!S_ISREG(st.st_mode)) return Error{EISDIR, "not a regular file: " + target};
    if (IsReadOnlyMode(st.st_mode)) return Error{EACCES, "read-only file: " + target};
    if (!LockExclusively(fd.get(), wait)) return Error{EWOULDBLOCK, "file in use: " + target};
    struct stat now;
    if (stat(target.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
      return FileReplacement(
          target, std::move(fd),
          OldFile{st.st_mode & 07777, static_cast<long>(st.st_uid), static_cast<long>(st.st_gid),
                  st.st_nlink, st.st_dev, st.st_ino});
  }
  return Error{EBUSY, "file keeps changing: " + target};
}

Result<std::string> FileReplacement::ReadCurrent() {
  std::string content;
  if (!old_) return content;
  if (lseek(old_.get(), 0, SEEK_SET) < 0) return Error::FromErrno("lseek");
  char buf[65536];
  for (;;) {
    ssize_t n = read(old_.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::FromErrno("read");
    }
    if (n == 0) break;
    content.append(buf, static_cast<size_t>(n));
  }
  return content;
}

Result<void> FileReplacement::Commit(std::string_view bytes) {
  if (new_) return Error{EALREADY, "already committed"};
  // Further hard links would keep the old content under their names.
  if (old_ && info_.links > 1) return WriteInPlace(bytes);
  bool in_place_instead = false;
  Result<void> replaced = Replace(bytes, in_place_instead);
  if (in_place_instead) return WriteInPlace(bytes);
  return replaced;
}

Result<void> FileReplacement::Replace(std::string_view bytes, bool& in_place_instead) {
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 10 && !fd; ++attempt) {
    temp = TempNameBeside(target_);
    fd.reset(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd && errno != EEXIST) {
      // A folder we may not write can still hold a file we may.
      if (old_ && (errno == EACCES || errno == EPERM)) {
        in_place_instead = true;
        return {};
      }
      return Error::FromErrno("create " + temp);
    }
  }
  if (!fd) return Error{EEXIST, "no free temporary name"};
  auto fail = [&](Error e) -> Result<void> {
    unlink(temp.c_str());
    return e;
  };
  // Uncontended: nobody else knows the name yet. Held so the file is locked when it appears.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return fail(Error::FromErrno("flock"));
  if (old_) {
    // The new file stays the old one's owner's and group's. Root may give it to anyone, others
    // to a group of theirs; where that is refused, the old file is written in place instead.
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return fail(Error::FromErrno("fstat"));
    if ((static_cast<long>(st.st_uid) != info_.owner ||
         static_cast<long>(st.st_gid) != info_.group) &&
        fchown(fd.get(), static_cast<uid_t>(info_.owner), static_cast<gid_t>(info_.group)) != 0) {
      if (errno != EPERM) return fail(Error::FromErrno("fchown"));
      unlink(temp.c_str());
      in_place_instead = true;
      return {};
    }
  }
  if (fchmod(fd.get(), info_.mode) != 0) return fail(Error::FromErrno("fchmod"));
  if (auto r = WriteAll(fd.get(), bytes); !r) return fail(r.error());
  if (fsync(fd.get()) != 0) return fail(Error::FromErrno("fsync"));
  if (rename(temp.c_str(), target_.c_str()) != 0) return fail(Error::FromErrno("rename"));
  UniqueFd dir(open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) fsync(dir.get());  // makes the rename itself durable; best effort
  new_ = std::move(fd);
  return {};
}

Result<void> FileReplacement::WriteInPlace(std::string_view bytes) {
  UniqueFd fd(open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) return Error::FromErrno("open " + target_);
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return Error::FromErrno("fstat");
  // Still the file that was locked (Begin made sure it was under the name then).
  if (st.st_dev != info_.device || st.st_ino != info_.inode)
    return Error{EBUSY, "file replaced meanwhile: " + target_};
  if (auto r = WriteAll(fd.get(), bytes); !r) return r;
  if (ftruncate(fd.get(), static_cast<off_t>(bytes.size())) != 0)
    return Error::FromErrno("ftruncate");
  if (fsync(fd.get()) != 0) return Error::FromErrno("fsync");
  new_ = std::move(fd);
  return {};
}
