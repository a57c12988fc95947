// The install date reported with each event: the local calendar date ("%04d-%02d-%02d") on which
// a file was made, taken from its birth time where the file system keeps one, else from its
// modification time. A file that cannot be examined gives "1990-04-12".
#pragma once

#include <string>

inline constexpr char kUnknownInstallDate[] = "1990-04-12";

[[nodiscard]] std::string InstallDateOfFile(const std::string& path);
// The date of the running program's executable (for the library, the host program's).
[[nodiscard]] std::string ReadExecutableInstallDate();
