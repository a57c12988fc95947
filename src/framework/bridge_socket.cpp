#include "framework/bridge_socket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace {
// Comfortably below the default socket send buffer, so one packet never blocks on its own size.
constexpr size_t kPacketPayload = 60 * 1024;
}  // namespace

bool SendBridgeMessage(int fd, std::string_view message) {
  std::string packet;
  size_t offset = 0;
  do {
    size_t n = std::min(kPacketPayload, message.size() - offset);
    bool last = offset + n == message.size();
    packet.assign(1, last ? '.' : '+');
    packet.append(message.substr(offset, n));
    ssize_t sent;
    do {
      sent = ::send(fd, packet.data(), packet.size(), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(packet.size())) return false;
    offset += n;
  } while (offset < message.size());
  return true;
}

std::optional<std::string> ReceiveBridgeMessage(int fd) {
  std::string message;
  // One buffer per thread, reused: calls are frequent and mostly small.
  thread_local std::vector<char> buffer(kPacketPayload + 1);
  for (;;) {
    ssize_t n;
    do {
      n = ::recv(fd, buffer.data(), buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return std::nullopt;
    message.append(buffer.data() + 1, static_cast<size_t>(n) - 1);
    if (buffer[0] == '.') return message;
    if (buffer[0] != '+') return std::nullopt;
  }
}
