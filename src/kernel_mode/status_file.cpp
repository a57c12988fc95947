#include "kernel_mode/status_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/unique_fd.h"

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
  if (status.udp_dropped != std::array<uint64_t, 4>{}) {
    text += "udp-dropped";
    for (uint64_t count : status.udp_dropped) text += " " + std::to_string(count);
    text += "\n";
  }
  return text;
}

Result<void> ReplaceFile(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  UniqueFd fd(
      ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd) return Error::FromErrno("open " + temporary.string());
  Result<void> done;
  ssize_t written = 0;
  if (::fchmod(fd.get(), 0600) != 0) {
    done = Error::FromErrno("chmod " + temporary.string());
  } else if ((written = ::write(fd.get(), text.data(), text.size())) < 0) {
    done = Error::FromErrno("write " + temporary.string());
  } else if (static_cast<size_t>(written) != text.size()) {
    done = Error{EIO, "short write " + temporary.string()};
  } else if (::close(fd.release()) != 0) {
    done = Error::FromErrno("write " + temporary.string());
  } else if (::rename(temporary.c_str(), file.c_str()) != 0) {
    done = Error::FromErrno("rename " + file.string());
  }
  if (!done) ::unlink(temporary.c_str());
  return done;
}
