// Making sure the backend service runs and has installed the network-stack component. The
// service serves BackendServicePipeName; its starter "Caddow.exe" and the installer
// "pellix.exe" lie in the program directory. Runs on the window thread and blocks it: up to
// 4000 ms for the starter, then until the service has read the command and answered.
//
//   situation                                       result  service pipe afterwards
//   starter needed, and it failed or timed out      false   not opened
//   starter ended with 0, pipe still cannot open    false   not opened
//   the command cannot be written                   false   closed
//   answer "0"                                      true    closed
//   any other answer, or none                       false   left open
#pragma once

#include "base/text.h"

inline constexpr TextView BackendServicePipeName = u"\\\\.\\pipe\\ZrNetworkGameBackendService";

// The install command for a program directory: "open,<dir>/pellix.exe, -i -a -n "sorvan_lsp"
// -d32 "<dir>/sorvan_lsp.dll"": the verb, the installer and its parameters, comma-separated.
[[nodiscard]] Text InstallCommand(const Text& program_directory);

// Script method: the bootstrap for the running program's directory (GetAppCurrentPath).
[[nodiscard]] bool InitService();
// The same with the starter and installer looked for in `program_directory`.
[[nodiscard]] bool InitServiceFrom(const Text& program_directory);
