// The files that make the user's sessions preload the network-stack component (see main.cpp).
#pragma once

#include <filesystem>
#include <string>

// $XDG_CONFIG_HOME/environment.d/60-<name>.conf
[[nodiscard]] std::filesystem::path EnvironmentFile(const std::string& name);

// The environment.d line that puts `library` ahead of whatever LD_PRELOAD held; empty when the
// path cannot stand in LD_PRELOAD (blanks and colons separate its entries; '$', '\', quotes and
// control characters would be expanded or cut by environment.d).
[[nodiscard]] std::string PreloadLine(const std::string& library);

// Installs the component `name` whose library the install command named as `named_dll`.
[[nodiscard]] bool InstallComponent(const std::string& name, const std::string& named_dll);
// Removes what InstallComponent made.
[[nodiscard]] bool RemoveComponent(const std::string& name);
