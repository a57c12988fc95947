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

// The file a path finally names: symbolic links followed, even when their target is missing.
std::string ResolveLinks(const std::string& path) {
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

FileReplacement::FileReplacement(std::string target, UniqueFd old, unsigned mode, long owner,
                                 long group)
    : target_(std::move(target)), old_(std::move(old)), mode_(mode), owner_(owner), group_(group) {}
FileReplacement::FileReplacement(FileReplacement&&) noexcept = default;
FileReplacement& FileReplacement::operator=(FileReplacement&&) noexcept = default;
FileReplacement::~FileReplacement() = default;

Result<FileReplacement> FileReplacement::Begin(const std::string& path, LockWait wait) {
  std::string target = ResolveLinks(path);
  // The lock must sit on the file that is under the name now: another update may rename a new
  // file in while we wait, and then we lock that one instead.
  for (int attempt = 0; attempt < 100; ++attempt) {
    UniqueFd fd(open(target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
      if (errno != ENOENT) return Error::FromErrno("open " + target);
      return FileReplacement(target, UniqueFd(), 0666 & ~CurrentUmask(), -1, -1);
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return Error::FromErrno("fstat");
    if (!S_ISREG(st.st_mode)) return Error{EISDIR, "not a regular file: " + target};
    if (IsReadOnlyMode(st.st_mode)) return Error{EACCES, "read-only file: " + target};
    if (!LockExclusively(fd.get(), wait)) return Error{EWOULDBLOCK, "file in use: " + target};
    struct stat now;
    if (stat(target.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
      return FileReplacement(target, std::move(fd), st.st_mode & 07777, st.st_uid, st.st_gid);
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
  std::string temp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 10 && !fd; ++attempt) {
    temp = TempNameBeside(target_);
    fd.reset(open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd && errno != EEXIST) return Error::FromErrno("create " + temp);
  }
  if (!fd) return Error{EEXIST, "no free temporary name"};
  auto fail = [&](Error e) -> Result<void> {
    unlink(temp.c_str());
    return e;
  };
  // Uncontended: nobody else knows the name yet. Held so the file is locked when it appears.
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return fail(Error::FromErrno("flock"));
  // Root may replace another user's file; it stays theirs. Others cannot give files away.
  if (owner_ >= 0 && geteuid() == 0 &&
      fchown(fd.get(), static_cast<uid_t>(owner_), static_cast<gid_t>(group_)) != 0)
    return fail(Error::FromErrno("fchown"));
  if (fchmod(fd.get(), mode_) != 0) return fail(Error::FromErrno("fchmod"));
  if (auto r = WriteAll(fd.get(), bytes); !r) return fail(r.error());
  if (fsync(fd.get()) != 0) return fail(Error::FromErrno("fsync"));
  if (rename(temp.c_str(), target_.c_str()) != 0) return fail(Error::FromErrno("rename"));
  UniqueFd dir(open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) fsync(dir.get());  // makes the rename itself durable; best effort
  new_ = std::move(fd);
  return {};
}
