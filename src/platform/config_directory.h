// Where morvil keeps the user's own settings: `$XDG_CONFIG_HOME/morvil`, with XDG_CONFIG_HOME
// falling back to `$HOME/.config` when it is unset, empty or relative (the XDG rules), and HOME
// to the password database. Read from the environment on every call.
//
// What is kept there (the page's settings with the proxy token, the user's registry store) is for
// the user alone: the directory is 0700 and the files in it 0600 or tighter. A directory or file
// found looser is tightened when it belongs to the user; symbolic links inside are left alone.
// Blocking local I/O; thread-safe.
#pragma once

#include <string>

// The user's configuration directory, e.g. "/home/ann/.config". No trailing '/'.
[[nodiscard]] std::string UserConfigDirectory();

// UserConfigDirectory() + "/morvil".
[[nodiscard]] std::string MorvilConfigDirectory();

// Creates `dir` and its missing parents with `mode` (umask applies); true when it exists as a
// directory afterwards.
[[nodiscard]] bool EnsureDirectory(const std::string& dir, unsigned mode);

// EnsureDirectory(dir, 0700), then takes every group and other bit off `dir` when the user owns
// it. True when it is a directory afterwards.
[[nodiscard]] bool EnsurePrivateDirectory(const std::string& dir);

// Takes every group and other bit off the file or directory `path` when the user owns it; a
// symbolic link is left alone. Opens no descriptor. True when `path` is missing or owner-only.
bool RestrictToOwner(const std::string& path);

// True when `path` ('/'-separated) names MorvilConfigDirectory() or something inside it.
[[nodiscard]] bool IsInMorvilConfigDirectory(const std::string& path);

// The mode for a directory the program creates at `path`: 0700 inside the product's
// configuration directory, 0777 (less the umask) elsewhere.
[[nodiscard]] unsigned NewDirectoryMode(const std::string& path);

// After the program wrote the file `path`: owner-only when it lies in the product's
// configuration directory, untouched elsewhere.
void ProtectWrittenFile(const std::string& path);

// Tightens the product's configuration directory, when there is one, and the files directly in
// it. Run at start, so settings left by an older build or another program become private.
void SecureMorvilConfigDirectory();
