// A temporary home for one test: HOME, XDG_CONFIG_HOME and MORVIL_REGISTRY_DIR point into a fresh
// directory, removed (with everything in it) afterwards. The working directory is moved there too,
// so relative paths land inside it.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

class TempHome {
 public:
  TempHome() {
    root_ = testing_support::MakeTempDir("morvil-test").string();
    chmod(root_.c_str(), 0755);
    setenv("HOME", root_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    setenv("MORVIL_REGISTRY_DIR", (root_ + "/registry").c_str(), 1);
    std::filesystem::create_directories(root_ + "/registry");
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
  }
  ~TempHome() {
    std::filesystem::current_path(old_cwd_);
    // Read-only files and directories left by a test must not stop the clean-up. chmod follows
    // symbolic links, so links (which may point outside) are left alone.
    std::error_code ec;
    for (auto& e : std::filesystem::recursive_directory_iterator(root_, ec))
      if (!e.is_symlink()) chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
    std::filesystem::remove_all(root_, ec);
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& root() const { return root_; }
  std::string path(const std::string& relative) const { return root_ + "/" + relative; }

  static std::string ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void WriteAll(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  }

 private:
  std::string root_;
  std::filesystem::path old_cwd_;
};
