#include "pipe/pipe_message.h"

#include <array>

#include "base/diagnostic.h"

std::vector<std::byte> EncodePipeMessage(TextView text) {
  std::vector<std::byte> bytes;
  bytes.reserve(text.size() * 2);
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::byte>(unit & 0xff));
    bytes.push_back(static_cast<std::byte>(unit >> 8));
  }
  return bytes;
}

Text DecodePipeMessage(std::span<const std::byte> bytes) {
  Text text;
  text.reserve((bytes.size() + 1) / 2);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    auto low = static_cast<char16_t>(bytes[i]);
    auto high = i + 1 < bytes.size() ? static_cast<char16_t>(bytes[i + 1]) : char16_t{0};
    char16_t unit = static_cast<char16_t>(low | (high << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

bool ReadPipeMessage(PipeConnection* connection, Text& out) {
  std::array<std::byte, kPipeReadLimit> buffer;
  if (connection) {
    Result<PipeConnection::ReadResult> r = connection->read(buffer);
    if (r && r->complete) {
      out = DecodePipeMessage(std::span(buffer).first(r->size));
      return true;
    }
  }
  PrintDiagnostic(kReadFailedLine);
  return false;
}

bool WritePipeMessage(PipeConnection* connection, TextView text, std::string_view failure_line) {
  if (connection) {
    std::vector<std::byte> bytes = EncodePipeMessage(text);
    if (connection->write(bytes)) {
      (void)connection->flush();
      return true;
    }
  }
  PrintDiagnostic(failure_line);
  return false;
}
