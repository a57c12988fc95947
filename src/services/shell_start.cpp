#include "services/shell_start.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/path.h"
#include "platform/default_handler.h"
#include "platform/process_spawn.h"
#include "services/argument_quoting.h"

namespace {

int CodeForErrno(int error) {
  switch (error) {
    case ENOENT:
      return kShellFileNotFound;
    case ENOTDIR:
    case ELOOP:
      return kShellPathNotFound;
    case EACCES:
    case EPERM:
      return kShellAccessDenied;
    case ENOEXEC:
    case ETXTBSY:
      return kShellBadFormat;
    case EOPNOTSUPP:
      return kShellNoAssociation;
    case EIO:
      return kShellAssocIncomplete;
    default:
      return kShellOutOfMemory;  // ENOMEM, EAGAIN, EMFILE, E2BIG...: out of resources
  }
}

// "scheme:" as URIs begin; one letter before ':' would be a drive letter, not a scheme.
bool IsUrl(const std::string& file) {
  size_t colon = file.find(':');
  if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(file[0])))
    return false;
  for (size_t i = 1; i < colon; ++i) {
    unsigned char c = static_cast<unsigned char>(file[i]);
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

std::string SearchPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = directories.find(':', start);
    std::string directory = directories.substr(start, end - start);
    std::string candidate = (directory.empty() ? "." : directory) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    if (end == std::string::npos) return {};
    start = end + 1;
  }
}

// Why `path` cannot be reached: a missing directory on the way or the file itself.
int MissingFileCode(const std::string& path) {
  std::filesystem::path parent = std::filesystem::absolute(path).parent_path();
  struct stat info;
  if (::stat(parent.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return kShellPathNotFound;
  return kShellFileNotFound;
}

ShellStart Spawn(const std::string& program, TextView parameters, const Text& working_directory) {
  SpawnRequest request;
  request.program = program;
  request.arguments.push_back(program);
  for (const Text& argument : SplitArguments(parameters))
    request.arguments.push_back(ToUtf8(argument));
  request.working_directory = ToUtf8(working_directory);
  Result<ProcessHandle> child = SpawnProcess(request);
  if (!child) return {CodeForErrno(child.error().code), std::nullopt};
  return {kShellStarted, std::move(*child)};
}

ShellStart OpenWithHandler(const std::string& uri) {
  Result<void> opened = OpenWithDefaultHandler(uri);
  return {opened ? kShellStarted : CodeForErrno(opened.error().code), std::nullopt};
}

}  // namespace

ShellStart StartShellTarget(TextView file, TextView parameters, const Text& working_directory) {
  std::string target = ToUtf8(ToForwardSlashes(file));
  if (target.empty()) return {kShellFileNotFound, std::nullopt};
  struct stat info;
  if (::stat(target.c_str(), &info) != 0) {
    int error = errno;
    // An existing file wins over a URL reading of its name ("ab:c.txt").
    if (IsUrl(target)) return OpenWithHandler(target);
    if (target.find('/') == std::string::npos) {
      std::string found = SearchPath(target);
      if (!found.empty()) return Spawn(found, parameters, working_directory);
    }
    if (error == ENOENT) return {MissingFileCode(target), std::nullopt};
    return {CodeForErrno(error), std::nullopt};
  }
  if (S_ISREG(info.st_mode) && ::access(target.c_str(), X_OK) == 0)
    return Spawn(target, parameters, working_directory);
  std::error_code ec;
  return OpenWithHandler(FileUri(std::filesystem::absolute(target, ec).string()));
}
