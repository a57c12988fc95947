// Where morvil keeps the user's own settings: `$XDG_CONFIG_HOME/morvil`, with XDG_CONFIG_HOME
// falling back to `$HOME/.config` when it is unset, empty or relative (the XDG rules), and HOME
// to the password database. Read from the environment on every call; never created here.
#pragma once

#include <string>

// The user's configuration directory, e.g. "/home/ann/.config". No trailing '/'.
[[nodiscard]] std::string UserConfigDirectory();

// UserConfigDirectory() + "/morvil".
[[nodiscard]] std::string MorvilConfigDirectory();

// Creates `dir` and its missing parents with `mode` (umask applies); true when it exists as a
// directory afterwards.
[[nodiscard]] bool EnsureDirectory(const std::string& dir, unsigned mode);
