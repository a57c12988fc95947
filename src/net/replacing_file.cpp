#include "net/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/file_replacement.h"

namespace {

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string target, std::string temp, UniqueFd fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(std::move(fd)) {}

Result<ReplacingFile> ReplacingFile::Create(std::string path) {
  // A symbolic link stays a link: the file it names is the one replaced.
  std::string target = ResolveSymbolicLinks(path);
  size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) return Error{EISDIR, "no file name"};
  std::string pattern = dir + "." + name + ".part-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  UniqueFd fd(mkostemp(buffer.data(), O_CLOEXEC));
  if (!fd) return Error::FromErrno("mkostemp");
  return ReplacingFile(std::move(target), std::string(buffer.data()), std::move(fd));
}

ReplacingFile::~ReplacingFile() {
  if (fd_) {
    fd_.reset();
    ::unlink(temp_.c_str());
  }
}

Result<void> ReplacingFile::Write(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_.get(), data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Error::FromErrno("write");
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return {};
}

Result<void> ReplacingFile::Commit() {
  // A file that is replaced keeps its permissions, and its owner and group where we may give
  // them; a new one gets the usual permissions of a new file.
  mode_t mode = NewFileMode();
  struct stat old;
  if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    mode = old.st_mode & 07777;
    struct stat now;
    const bool differs =
        ::fstat(fd_.get(), &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid);
    if (differs && ::fchown(fd_.get(), old.st_uid, old.st_gid) != 0 &&
        ::fchown(fd_.get(), static_cast<uid_t>(-1), old.st_gid) != 0) {
      // Neither owner nor group may be given away: the file is ours, as a new one would be.
    }
  }
  if (::fchmod(fd_.get(), mode) != 0) return Error::FromErrno("fchmod");
  if (::close(fd_.release()) != 0) {
    ::unlink(temp_.c_str());
    return Error::FromErrno("close");
  }
  if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
    Error error = Error::FromErrno("rename");
    ::unlink(temp_.c_str());
    return error;
  }
  return {};
}
