// One ICMP echo request, the way the latency probe sends it: through an ICMP socket of the caller's
// own where the system allows one (see icmp_echo_socket.h), otherwise through the echo helper
// that lies beside the program. The package grants that small helper cap_net_raw, so an ordinary
// user can measure latency while the program itself runs without extra privileges (a program
// with file capabilities runs in the loader's secure mode, which among other things hides the
// session bus address from GLib). Blocks for up to the time-out (a little more through the
// helper): call from a worker thread. Thread-safe.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "platform/icmp_echo_socket.h"

// Opens a socket, sends one echo request with IcmpEchoSocket::Echo() and closes the socket. Where
// this user may open no ICMP socket, the helper beside the program sends it instead. Status
// kIcmpAccessDenied when neither could send; kIcmpGeneralFailure for any other failure to open.
[[nodiscard]] IcmpEchoReply SendIcmpEcho(uint32_t address, std::span<const uint8_t> data,
                                         uint32_t timeout_ms);

// One echo request through the helper at `helper`. kIcmpAccessDenied when the helper cannot be
// started or may not send either; kIcmpGeneralFailure when it does not answer as agreed within
// the time-out and a grace second (it is then killed).
[[nodiscard]] IcmpEchoReply EchoThroughHelper(const std::filesystem::path& helper, uint32_t address,
                                              std::span<const uint8_t> data, uint32_t timeout_ms);
