// Script methods naming the system's special folders, and the program's own directory. Each
// returns the folder's path without a trailing '/', or the empty text when the system has no such
// folder; a folder is never created, nor checked to exist. Environment read on every call.
//
//   method                      folder
//   GetCommonAppDataPath        /var/lib
//   GetCommonDesktopPath        none
//   GetCommonDocumentsPath      none
//   GetCommonStartMenuPath      /usr/share/applications
//   GetCommonStartupPath        /etc/xdg/autostart
//   GetCommonProgramFilesPath   /usr/share
//   GetUserAppDataPath          $XDG_CONFIG_HOME (~/.config)
//   GetUserLocalAppDataPath     $XDG_DATA_HOME (~/.local/share)
//   GetUserDesktopPath          the XDG user directory DESKTOP (none where the user has none)
//   GetUserDocumentsPath        the XDG user directory DOCUMENTS (none where the user has none)
//   GetUserStartMenuPath        $XDG_DATA_HOME/applications
//   GetUserStartupPath          $XDG_CONFIG_HOME/autostart
//   GetUserProgramFilesPath     /opt
//   GetSystemPath               /usr/lib
//   GetWindowsPath              none
//   GetAppCurrentPath           the directory of the running executable (not the current one)
#pragma once

#include "base/text.h"

[[nodiscard]] Text GetCommonAppDataPath();
[[nodiscard]] Text GetCommonDesktopPath();
[[nodiscard]] Text GetCommonDocumentsPath();
[[nodiscard]] Text GetCommonStartMenuPath();
[[nodiscard]] Text GetCommonStartupPath();
[[nodiscard]] Text GetCommonProgramFilesPath();
[[nodiscard]] Text GetUserAppDataPath();
[[nodiscard]] Text GetUserLocalAppDataPath();
[[nodiscard]] Text GetUserDesktopPath();
[[nodiscard]] Text GetUserDocumentsPath();
[[nodiscard]] Text GetUserStartMenuPath();
[[nodiscard]] Text GetUserStartupPath();
[[nodiscard]] Text GetUserProgramFilesPath();
[[nodiscard]] Text GetSystemPath();
[[nodiscard]] Text GetWindowsPath();
[[nodiscard]] Text GetAppCurrentPath();
