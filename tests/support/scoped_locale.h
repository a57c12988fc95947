// Switches the process to a locale for one test and back to "C" afterwards. Locales that the
// machine lacks are compiled with localedef into a temporary LOCPATH; `ok()` is false (and the
// test should skip) when that is impossible.
#pragma once

#include <stdlib.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

class ScopedLocale {
 public:
  // `name` like "zh_CN.GBK": source locale "zh_CN", charmap "GBK".
  explicit ScopedLocale(const std::string& name) {
    if (std::setlocale(LC_ALL, name.c_str())) {
      ok_ = true;
      return;
    }
    // Never destroyed, so that the exit handler that removes the directory still has its path.
    static const std::string& dir = *[] {
      auto* made = new std::string(testing_support::MakeTempDir("morvil-locales").string());
      std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
      });
      return made;
    }();
    std::string source = name.substr(0, name.find('.'));
    std::string charmap = name.substr(name.find('.') + 1);
    std::string out = dir + "/" + name;
    if (!std::filesystem::exists(out)) {
      std::string cmd =
          "localedef -i " + source + " -f " + charmap + " " + out + " >/dev/null 2>&1";
      if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(out)) return;
    }
    setenv("LOCPATH", dir.c_str(), 1);
    ok_ = std::setlocale(LC_ALL, name.c_str()) != nullptr;
  }
  ~ScopedLocale() {
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
  }
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  [[nodiscard]] bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};
