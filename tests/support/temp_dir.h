// Temporary folders of the tests. Each lies under the run's temporary folder ($TMPDIR, which
// scripts/test.sh points into its scratch directory; /tmp where TMPDIR is unset), so a run leaves
// nothing behind in /tmp even when a test fails before its own clean-up.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace testing_support {

// A new private directory "<temporary folder>/<tag>-XXXXXX". The caller removes it.
inline std::filesystem::path MakeTempDir(const std::string& tag) {
  std::string pattern = (std::filesystem::temp_directory_path() / tag).string() + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp " + pattern);
  return pattern;
}

}  // namespace testing_support
