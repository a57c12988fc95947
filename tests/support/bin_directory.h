// Where the build puts the programs and stand-ins: $MORVIL_BIN_DIR (set by ctest), else the
// bin/ folder beside the test programs' folder.
#pragma once

#include <cstdlib>
#include <filesystem>

#include "base/path.h"

inline std::filesystem::path BinDirectory() {
  if (const char* dir = std::getenv("MORVIL_BIN_DIR")) return dir;
  return std::filesystem::path(ToUtf8(GetAppDirectory())).parent_path() / "bin";
}
