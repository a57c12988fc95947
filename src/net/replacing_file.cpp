#include "net/replacing_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string target, std::string temp, UniqueFd fd)
    : target_(std::move(target)), temp_(std::move(temp)), fd_(std::move(fd)) {}

Result<ReplacingFile> ReplacingFile::Create(std::string target) {
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
  if (::fchmod(fd_.get(), NewFileMode()) != 0) return Error::FromErrno("fchmod");
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
