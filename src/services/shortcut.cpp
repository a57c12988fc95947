#include "services/shortcut.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/path.h"
#include "base/unique_fd.h"
#include "services/argument_quoting.h"
#include "services/desktop_exec.h"

namespace {

struct KeyFileFree {
  void operator()(GKeyFile* k) const { g_key_file_free(k); }
};

// Non-blocking, so that a FIFO given as target fails instead of hanging.
bool IsReadableRegularFile(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  return fd && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool CreateShortcut(const Text& target, const Text& linkFile, const Text& arguments,
                    const Text& /*unused4*/, const Text& /*unused5*/, const Text& /*unused6*/) {
  std::filesystem::path target_path = ToUtf8(ToForwardSlashes(target));
  std::filesystem::path link_path = ToUtf8(ToForwardSlashes(linkFile));
  if (target_path.empty() || link_path.empty() || !IsReadableRegularFile(target_path)) return false;
  std::error_code error;
  target_path = std::filesystem::absolute(target_path, error);
  if (error) return false;

  std::vector<std::string> exec = {target_path.string()};
  for (const Text& argument : SplitArguments(arguments)) exec.push_back(ToUtf8(argument));
  std::string name = link_path.stem().string();
  if (name.empty() || name[0] == '.') name = target_path.filename().string();

  std::unique_ptr<GKeyFile, KeyFileFree> entry(g_key_file_new());
  const char* group = G_KEY_FILE_DESKTOP_GROUP;
  g_key_file_set_string(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_TYPE,
                        G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
  g_key_file_set_string(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_NAME, name.c_str());
  g_key_file_set_string(entry.get(), group, G_KEY_FILE_DESKTOP_KEY_EXEC, BuildExec(exec).c_str());
  if (!g_key_file_save_to_file(entry.get(), link_path.c_str(), nullptr)) return false;

  struct stat st {};
  if (::stat(link_path.c_str(), &st) == 0) {
    mode_t read_bits = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    ::chmod(link_path.c_str(), (st.st_mode & 07777) | (read_bits >> 2));
  }
  return true;
}
