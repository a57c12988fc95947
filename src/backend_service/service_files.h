// Files by which a backend service running as an ordinary user tells others that it runs,
// shared with its starter: the process id, written once its pipe listens, in the user's runtime
// directory, and the lock that keeps it to one service per user.
#pragma once

inline constexpr const char* kServicePidFile = "backend-service.pid";
inline constexpr const char16_t* kServiceLockName = u"morvil-backend-service";
