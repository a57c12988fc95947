#include "pellix/install_files.h"

#include <cstdlib>
#include <fstream>

namespace {

std::filesystem::path XdgDirectory(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  if (value && value[0] == '/') return value;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home ? home : "/") / fallback;
}

std::filesystem::path LinkPath(const std::string& name) {
  return XdgDirectory("XDG_DATA_HOME", ".local/share") / "morvil" / (name + ".so");
}

std::filesystem::path RecordPath() {
  return XdgDirectory("XDG_STATE_HOME", ".local/state") / "morvil" / "lsp-installed";
}

// Writes `text` to `file` through a temporary file, so a reader never sees half of it.
bool WriteFile(const std::filesystem::path& file, const std::string& text) {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  std::filesystem::path temporary = file;
  temporary += ".tmp";
  std::ofstream out(temporary, std::ios::trunc);
  out << text;
  out.close();
  if (!out) return false;
  std::filesystem::rename(temporary, file, ec);
  return !ec;
}

}  // namespace

std::filesystem::path EnvironmentFile(const std::string& name) {
  return XdgDirectory("XDG_CONFIG_HOME", ".config") / "environment.d" / ("60-" + name + ".conf");
}

std::string PreloadLine(const std::string& library) {
  for (unsigned char c : library)
    if (c < 0x20 || c == 0x7f || c == ' ' || c == ':' || c == '$' || c == '\\' || c == '"' ||
        c == '\'')
      return {};
  return "LD_PRELOAD=" + library + "${LD_PRELOAD:+:$LD_PRELOAD}\n";
}

bool InstallComponent(const std::string& name, const std::string& named_dll) {
  std::filesystem::path library = named_dll;
  library.replace_extension(".so");
  std::error_code ec;
  if (!std::filesystem::is_regular_file(library, ec)) return false;  // follows links
  std::filesystem::path link = LinkPath(name);
  std::string line = PreloadLine(link.string());
  if (line.empty()) return false;
  std::filesystem::create_directories(link.parent_path(), ec);
  std::filesystem::path temporary = link;
  temporary += ".tmp";
  std::filesystem::remove(temporary, ec);
  std::filesystem::create_symlink(library, temporary, ec);
  if (ec) return false;
  std::filesystem::rename(temporary, link, ec);
  if (ec) return false;
  return WriteFile(
             EnvironmentFile(name),
             "# Loads the network-stack component of Morvil Accelerator into programs.\n" + line) &&
         WriteFile(RecordPath(), name + " " + named_dll + "\n");
}

bool RemoveComponent(const std::string& name) {
  bool ok = true;
  for (const std::filesystem::path& file : {EnvironmentFile(name), LinkPath(name), RecordPath()}) {
    std::error_code ec;
    std::filesystem::remove(file, ec);
    ok = ok && !ec;
  }
  return ok;
}
