// Messages of any length over a SOCK_SEQPACKET socket: a message is one or more packets, each
// starting with '+' (more follows) or '.' (last). Blocking calls; used by both ends of the
// script bridge (the host's UI thread and the web process's script thread).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// False when the peer is gone or the socket failed.
bool SendBridgeMessage(int fd, std::string_view message);
// Nullopt when the peer hung up or the socket failed.
std::optional<std::string> ReceiveBridgeMessage(int fd);
