// Points XDG_RUNTIME_DIR at a fresh temporary directory, once per test process and before any
// thread reads it; the directory is removed at exit.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text.h"

inline const std::filesystem::path& UseTemporaryRuntimeDir() {
  static const std::filesystem::path* dir = [] {
    char pattern[] = "/tmp/morvil-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) std::abort();
    ::setenv("XDG_RUNTIME_DIR", made, 1);
    auto* path = new std::filesystem::path(made);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(UseTemporaryRuntimeDir(), ignored);
    });
    return path;
  }();
  return *dir;
}

// A pipe name of its own for the running test: "\\.\pipe\<Suite>.<Test><suffix>".
inline Text TestPipeName(const char* suffix = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  return FromUtf8(std::string("\\\\.\\pipe\\") + info->test_suite_name() + "." + info->name() +
                  suffix);
}
