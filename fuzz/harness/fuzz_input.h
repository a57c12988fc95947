// Helpers shared by the fuzz targets: views of the raw input as the texts the parsers take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/text.h"

// The input as UTF-16LE code units (an odd last byte is dropped), as pipe and page texts arrive.
inline Text Utf16Units(const uint8_t* data, size_t size) {
  Text text;
  text.reserve(size / 2);
  for (size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return text;
}

inline std::string_view Bytes(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A property every input must keep; a broken one is reported like a crash.
#define FUZZ_CHECK(condition)       \
  do {                              \
    if (!(condition)) std::abort(); \
  } while (0)
