// The listening socket of the backend service's pipe: the one systemd passes (socket
// activation), or one bound here. A socket bound here appears at its path only once it listens
// (bound under a temporary name, then renamed over whatever was there), so a client never finds
// a file that nobody serves.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

#include "base/result.h"
#include "base/unique_fd.h"

// The listening SOCK_SEQPACKET socket systemd passed to this process (LISTEN_PID, LISTEN_FDS),
// or nothing when none was passed; EINVAL when what was passed is not such a socket. The
// variables are removed, so that programs we start do not take the socket for theirs.
[[nodiscard]] Result<std::optional<UniqueFd>> TakeActivatedSocket();

// Binds and listens at `path` with file mode `mode`.
[[nodiscard]] Result<UniqueFd> BindPipeSocket(const std::filesystem::path& path, mode_t mode);

// Makes `dir` a root-owned directory of mode 0755 that nobody else can change (created when
// missing; an existing one must be a real directory owned by root).
[[nodiscard]] Result<void> MakeSystemDirectory(const std::filesystem::path& dir);
