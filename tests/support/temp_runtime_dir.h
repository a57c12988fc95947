// Points XDG_RUNTIME_DIR at a fresh temporary directory, once per test process and before any
// thread reads it; the directory is removed at exit.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text.h"
#include "support/temp_dir.h"

inline const std::filesystem::path& UseTemporaryRuntimeDir() {
  static const std::filesystem::path* dir = [] {
    // A short name: pipe sockets go two levels below it, and a socket path has room for 107
    // bytes (longer pipe names become a 65-byte digest).
    auto* path = new std::filesystem::path(testing_support::MakeTempDir("rt"));
    ::setenv("XDG_RUNTIME_DIR", path->c_str(), 1);
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
