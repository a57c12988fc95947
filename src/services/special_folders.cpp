#include "services/special_folders.h"

#include "base/path.h"
#include "services/xdg_directories.h"

namespace {

Text Under(const std::string& base, const char* rest) {
  return base.empty() ? Text() : FromUtf8(base + rest);
}

}  // namespace

Text GetCommonAppDataPath() {
  return u"/var/lib";
}
Text GetCommonDesktopPath() {
  return Text();
}
Text GetCommonDocumentsPath() {
  return Text();
}
Text GetCommonStartMenuPath() {
  return u"/usr/share/applications";
}
Text GetCommonStartupPath() {
  return u"/etc/xdg/autostart";
}
Text GetCommonProgramFilesPath() {
  return u"/usr/share";
}
Text GetUserAppDataPath() {
  return FromUtf8(ConfigHome());
}
Text GetUserLocalAppDataPath() {
  return FromUtf8(DataHome());
}
Text GetUserDesktopPath() {
  return FromUtf8(UserDirectory("DESKTOP"));
}
Text GetUserDocumentsPath() {
  return FromUtf8(UserDirectory("DOCUMENTS"));
}
Text GetUserStartMenuPath() {
  return Under(DataHome(), "/applications");
}
Text GetUserStartupPath() {
  return Under(ConfigHome(), "/autostart");
}
Text GetUserProgramFilesPath() {
  return u"/opt";
}
Text GetSystemPath() {
  return u"/usr/lib";
}
Text GetWindowsPath() {
  return Text();
}
Text GetAppCurrentPath() {
  return GetAppDirectory();
}
