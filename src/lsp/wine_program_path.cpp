#include "lsp/wine_program_path.h"

#include <cstring>

namespace {

// The part after the last '/' or '\'.
const char* FileNameOf(const char* path, size_t size) {
  const char* name = path;
  for (size_t i = 0; i < size; ++i)
    if (path[i] == '/' || path[i] == '\\') name = path + i + 1;
  return name;
}

bool IsLoaderName(const char* path, size_t size) {
  const char* name = FileNameOf(path, size);
  size_t length = size - static_cast<size_t>(name - path);
  static const char* const kLoaders[] = {"wine", "wine64", "wine-preloader", "wine64-preloader"};
  for (const char* loader : kLoaders)
    if (std::strlen(loader) == length && std::memcmp(name, loader, length) == 0) return true;
  return false;
}

// Appends `size` bytes; false when `out` (with room for the NUL) is full.
bool Append(char* out, size_t out_size, size_t& at, const char* text, size_t size) {
  if (size >= out_size - at) return false;
  std::memcpy(out + at, text, size);
  at += size;
  out[at] = '\0';
  return true;
}

size_t CopyPath(const char* path, size_t size, char* out, size_t out_size) {
  size_t at = 0;
  if (out_size == 0 || !Append(out, out_size, at, path, size)) return 0;
  return at;
}

}  // namespace

bool IsWineLoader(const char* exe_path) {
  return IsLoaderName(exe_path, std::strlen(exe_path));
}

size_t ProgramPathToAsk(const char* exe_path, const char* cmdline, size_t cmdline_size, char* out,
                        size_t out_size) {
  const size_t exe_size = std::strlen(exe_path);
  if (!IsLoaderName(exe_path, exe_size)) return CopyPath(exe_path, exe_size, out, out_size);
  // The first argument that is not a loader; Wine pads a rewritten command line with NULs, so
  // empty arguments are skipped too.
  const char* program = nullptr;
  size_t program_size = 0;
  for (size_t at = 0; at < cmdline_size;) {
    const void* end = std::memchr(cmdline + at, '\0', cmdline_size - at);
    size_t size = end ? static_cast<size_t>(static_cast<const char*>(end) - (cmdline + at))
                      : cmdline_size - at;
    if (size != 0 && !IsLoaderName(cmdline + at, size)) {
      program = cmdline + at;
      program_size = size;
      break;
    }
    at += size + 1;
  }
  if (program == nullptr || program[0] == '-') return CopyPath(exe_path, exe_size, out, out_size);

  const char* name = FileNameOf(program, program_size);
  const size_t name_size = program_size - static_cast<size_t>(name - program);
  if (name_size == 0) return CopyPath(exe_path, exe_size, out, out_size);
  size_t at = 0;
  if (out_size == 0 || (name == program && !Append(out, out_size, at, ".\\", 2)) ||
      !Append(out, out_size, at, program, program_size) ||
      (std::memchr(name, '.', name_size) == nullptr && !Append(out, out_size, at, ".exe", 4)))
    return 0;
  return at;
}
