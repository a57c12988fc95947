#include "kernel_mode/status_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Clean(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  return out;
}

}  // namespace

std::string FormatStatus(const ComponentStatus& status) {
  std::string text = "mode kernel\n";
  text += "component " + std::to_string(status.component) + "\n";
  text += "updated " + std::to_string(static_cast<long long>(status.updated)) + "\n";
  text += "cgroup " + Clean(status.cgroup) + "\n";
  if (status.proxy_host)
    text += "proxy " + Clean(*status.proxy_host) + " " + std::to_string(status.proxy_port) + "\n";
  for (const ProgramStatus& program : status.programs)
    text += "program " + std::to_string(program.pid) + " " + std::to_string(program.up) + " " +
            std::to_string(program.down) + " " + Clean(program.path) + "\n";
  return text;
}

Result<void> ReplaceFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return Error::FromErrno("open " + temporary.string());
  bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::fchmod(fd, 0644);
  if (::close(fd) != 0 || !written) return Error::FromErrno("write " + temporary.string());
  if (::rename(temporary.c_str(), file.c_str()) != 0)
    return Error::FromErrno("rename " + file.string());
  return {};
}
