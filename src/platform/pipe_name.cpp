#include "platform/pipe_name.h"

#include <glib.h>
#include <sys/un.h>

#include <cerrno>
#include <cstdlib>

#include "base/gobject_ptr.h"
#include "base/percent_encoding.h"
#include "platform/runtime_dir.h"

namespace {

bool IsSlash(char16_t c) {
  return c == u'\\' || c == u'/';
}

// Matches `\\.\pipe\` with either slash and "pipe" in any case; returns the length matched.
size_t PrefixLength(TextView name) {
  constexpr TextView kPipe = u"pipe";
  if (name.size() < 9) return 0;
  if (!IsSlash(name[0]) || !IsSlash(name[1]) || name[2] != u'.' || !IsSlash(name[3])) return 0;
  for (size_t i = 0; i < kPipe.size(); ++i) {
    char16_t c = name[4 + i];
    if (c >= u'A' && c <= u'Z') c = c - u'A' + u'a';
    if (c != kPipe[i]) return 0;
  }
  return IsSlash(name[8]) ? 9 : 0;
}

bool NeedsEscape(unsigned char c, bool first) {
  return c < 0x20 || c == 0x7f || c == '/' || c == '%' || c == '#' || (first && c == '.');
}

// `dir/file`, or `dir/#<SHA-256 of file>` when that does not fit a socket address.
Result<std::filesystem::path> SocketPathIn(const std::filesystem::path& dir,
                                           const std::string& file) {
  constexpr size_t kMaxPath = sizeof(sockaddr_un::sun_path) - 1;
  std::filesystem::path path = dir / file;
  if (path.native().size() <= kMaxPath) return path;
  GCharPtr digest(g_compute_checksum_for_string(G_CHECKSUM_SHA256, file.data(),
                                                static_cast<gssize>(file.size())));
  path = dir / (std::string("#") + digest.get());
  if (path.native().size() <= kMaxPath) return path;
  return Error{ENAMETOOLONG, "pipe directory too long: " + dir.string()};
}

}  // namespace

Result<std::string> PipeFileName(TextView pipe_name) {
  size_t prefix = PrefixLength(pipe_name);
  if (prefix == 0 || prefix == pipe_name.size())
    return Error{EINVAL, "not a pipe name: " + ToUtf8(pipe_name)};
  std::string utf8 = ToUtf8(pipe_name.substr(prefix));
  GCharPtr folded(g_utf8_strdown(utf8.data(), static_cast<gssize>(utf8.size())));
  return PercentEncode(folded.get(), NeedsEscape);
}

Result<std::filesystem::path> PipeSocketPath(TextView pipe_name) {
  Result<std::string> file = PipeFileName(pipe_name);
  if (!file) return file.error();
  Result<std::filesystem::path> runtime = RuntimeDirectory();
  if (!runtime) return runtime.error();
  Result<std::filesystem::path> dir = PrivateSubdirectory(*runtime, "pipe");
  if (!dir) return dir.error();
  return SocketPathIn(*dir, *file);
}

std::filesystem::path SystemDirectory() {
  const char* dir = std::getenv("MORVIL_SYSTEM_DIR");
  if (dir && dir[0] == '/') return dir;
  return "/run/morvil";
}

Result<std::filesystem::path> SystemPipeSocketPath(TextView pipe_name) {
  Result<std::string> file = PipeFileName(pipe_name);
  if (!file) return file.error();
  return SocketPathIn(SystemDirectory() / "pipe", *file);
}
