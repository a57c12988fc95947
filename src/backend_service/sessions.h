// Serves every client of the service's listening socket, each on a thread of its own, so that
// clients are served one after another and at once and a slow client never holds up another.
// Limits keep one user from taking the service from others: at most kClientsPerUser
// connections per user and kClientsInAll in all (a connection beyond them is closed at once),
// a connection that sends nothing for kIdleLimit is closed, and an answer that the client does
// not take within kSendLimit ends its connection.
#pragma once

#include <sys/types.h>

#include <chrono>

#include "backend_service/commands.h"

inline constexpr int kClientsPerUser = 16;
inline constexpr int kClientsInAll = 256;
inline constexpr std::chrono::seconds kIdleLimit{60};
inline constexpr std::chrono::seconds kSendLimit{5};

// How many clients are being served at this moment. Thread-safe.
[[nodiscard]] int ActiveClients();

// Accepts clients of `listener` for ever. Clients whose user is not `only_uid` are refused
// unless `only_uid` is negative (the system service serves every user).
[[noreturn]] void ServeClients(int listener, long long only_uid, CommandHandler& handler);
