// Files by which the backend service stand-in tells others that it runs, shared with its
// starter: the process id, written once its pipe listens, in the user's runtime directory.
#pragma once

inline constexpr const char* kServicePidFile = "backend-service.pid";
inline constexpr const char16_t* kServiceLockName = u"morvil-backend-service";
