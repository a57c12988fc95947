// The user's base directories, read from the environment on every call (so tests may point them
// elsewhere). Paths come without a trailing '/'; an empty text means "none". Thread-safe as long
// as nobody changes the environment meanwhile.
#pragma once

#include <string>

// $HOME, else the password database's home directory.
[[nodiscard]] std::string HomeDirectory();
// $XDG_CONFIG_HOME when absolute, else ~/.config.
[[nodiscard]] std::string ConfigHome();
// $XDG_DATA_HOME when absolute, else ~/.local/share.
[[nodiscard]] std::string DataHome();
// The user directory `name` ("DESKTOP", "DOCUMENTS") from ConfigHome()/user-dirs.dirs. Empty when
// it is not set there or is set to the home directory itself, which is how a user turns one off.
[[nodiscard]] std::string UserDirectory(const std::string& name);
